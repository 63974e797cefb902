#include "product/product_details.h"

#include <cstdlib>

namespace product {
namespace {

constexpr InstallModeConstants kInstallMode = {
    L"",
    L"Mirelo Browser",
    L"MireloBrowser",
    L"MrBrHTM",
    L"Mirelo Browser HTML Document",
    "mirelo-browser",
    L"MrBrPDF",
    L"Mirelo Browser PDF Document",
    L"{7D4A3E1B-92C6-4F0E-8B5D-1C2E3F4A5B6C}",
    L"{A1B2C3D4-5E6F-4A7B-8C9D-0E1F2A3B4C5D}",
    {0x7D4A3E1B, 0x92C6, 0x4F0E, {0x8B, 0x5D, 0x1C, 0x2E, 0x3F, 0x4A, 0x5B, 0x6C}},
    {0xA1B2C3D4, 0x5E6F, 0x4A7B, {0x8C, 0x9D, 0x0E, 0x1F, 0x2A, 0x3B, 0x4C, 0x5D}},
    {0x3C8E5F21, 0x6A4D, 0x4B9E, {0x91, 0x2F, 0x7E, 0x6D, 0x5C, 0x4B, 0x3A, 0x29}},
    {0x5E2A7C94, 0x1B3D, 0x4F6A, {0x8E, 0x0C, 0x9D, 0x2B, 0x4A, 0x6F, 0x1E, 0x3C}},
    {0x9F1D4B63, 0x7C2E, 0x4A8D, {0xB5, 0x3E, 0x6F, 0x1A, 0x2D, 0x9C, 0x8B, 0x7E}},
    L"S-1-15-2-2873019847-1204858461-3948103746-1830475523-2975061834-1052398476-",
};

// Set once at start-up, read afterwards, never freed.
const ProductDetails* g_product_details = nullptr;

}  // namespace

const InstallModeConstants& InstallMode() { return kInstallMode; }

void InitProductDetails() {
  if (!g_product_details) g_product_details = new ProductDetails{&kInstallMode};
}

const ProductDetails* GetProductDetails() { return g_product_details; }

std::wstring ProductRegistryName() {
  if (!g_product_details) std::abort();  // a programming error: called before InitProductDetails
  return std::wstring(kProductPathName) + g_product_details->mode->registry_name_suffix;
}

}  // namespace product
