#include "product/product_details.h"

#include <gtest/gtest.h>

namespace product {
namespace {

TEST(ProductDetailsTest, RegistryNameIsTheProductName) {
  InitProductDetails();
  ASSERT_NE(GetProductDetails(), nullptr);
  EXPECT_EQ(ProductRegistryName(), L"Mirelo Browser");
  EXPECT_EQ(ProductRegistryName().size(), 14u);
  EXPECT_EQ(L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + ProductRegistryName(),
            L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Mirelo Browser");
  EXPECT_EQ(std::string(kProductPathName8Bit), "Mirelo Browser");
  InitProductDetails();  // a second call changes nothing
  EXPECT_EQ(GetProductDetails()->mode, &InstallMode());
  EXPECT_EQ(std::wstring(InstallMode().toast_activator_guid).size(), 38u);
}

}  // namespace
}  // namespace product
