// The product's names and its one install mode, and the product details of
// the running process. The launcher reads only the registry name: the key
// name under which the browser registers for uninstall and attribution.
#ifndef PRODUCT_PRODUCT_DETAILS_H_
#define PRODUCT_PRODUCT_DETAILS_H_

#include <cstdint>
#include <string>

namespace product {

inline constexpr wchar_t kProductPathName[] = L"Mirelo Browser";
inline constexpr char kProductPathName8Bit[] = "Mirelo Browser";

struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};

struct InstallModeConstants {
  const wchar_t* registry_name_suffix;
  const wchar_t* product_name;
  const wchar_t* product_name_without_blank;
  const wchar_t* html_document_prefix;
  const wchar_t* html_document_description;
  const char* short_name;
  const wchar_t* pdf_document_prefix;
  const wchar_t* pdf_document_description;
  const wchar_t* toast_activator_guid;
  const wchar_t* elevator_guid;
  Guid toast_activator_clsid;
  Guid elevator_clsid;
  Guid elevator_iid;
  Guid tracing_service_clsid;
  Guid tracing_service_iid;
  const wchar_t* app_container_sid_prefix;
};

// The product's one install mode.
const InstallModeConstants& InstallMode();

struct ProductDetails {
  const InstallModeConstants* mode;
};

// Creates the process-wide details; call once, first thing.
void InitProductDetails();
// The process-wide details, or null before InitProductDetails.
const ProductDetails* GetProductDetails();

// The product path name followed by the mode's suffix: "Mirelo Browser".
std::wstring ProductRegistryName();

}  // namespace product

#endif  // PRODUCT_PRODUCT_DETAILS_H_
