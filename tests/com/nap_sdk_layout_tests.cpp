// The NAP SDK records must have the 64-bit Windows layouts: the NAP server and
// the utility library exchange them by address.
#include <gtest/gtest.h>

#include <cstddef>

#include "platform/nap_sdk.h"

namespace {

static_assert(sizeof(GUID) == 16);
static_assert(sizeof(CountedString) == 16 && offsetof(CountedString, string) == 8);
static_assert(sizeof(SoHAttribute) == 16 && offsetof(SoHAttribute, size) == 2 && offsetof(SoHAttribute, value) == 8);
static_assert(sizeof(SoH) == 16 && offsetof(SoH, attributes) == 8);
static_assert(sizeof(ResultCodes) == 16);
static_assert(sizeof(FixupInfo) == 32 && offsetof(FixupInfo, percentage) == 4 &&
              offsetof(FixupInfo, resultCodes) == 8 && offsetof(FixupInfo, fixupMsgId) == 24);
static_assert(sizeof(IsolationInfo) == 32 && offsetof(IsolationInfo, probEndTime) == 4 &&
              offsetof(IsolationInfo, failureUrl) == 16);
static_assert(sizeof(NapComponentRegistrationInfo) == 120);
static_assert(offsetof(NapComponentRegistrationInfo, friendlyName) == 8);
static_assert(offsetof(NapComponentRegistrationInfo, vendorName) == 56);
static_assert(offsetof(NapComponentRegistrationInfo, infoClsid) == 72);
static_assert(offsetof(NapComponentRegistrationInfo, configClsid) == 88);
static_assert(offsetof(NapComponentRegistrationInfo, registrationDate) == 104);
static_assert(offsetof(NapComponentRegistrationInfo, componentType) == 112);
static_assert(sizeof(SoHAttributeValue) == 16);
static_assert(offsetof(SoHAttributeValue, vendorSpecificVal.size) == 4);
static_assert(offsetof(SoHAttributeValue, vendorSpecificVal.vendorSpecificData) == 8);
static_assert(sizeof(CorrelationId) == 24);
static_assert(sizeof(FailureCategoryMapping) == 20);

TEST(nap_sdk, interface_and_class_ids_are_the_systems) {
  struct named_t {
    const IID& iid;
    const char16_t* text;
  };
  const named_t ids[] = {
      {IID_INapSystemHealthValidator, u"{EF43D87C-5B6D-4820-8620-868907FE07D3}"},
      {IID_INapComponentInfo, u"{B475F925-E3F7-414C-8C72-1CEE64B9D8F6}"},
      {IID_INapComponentConfig, u"{A9E0AF1A-3713-478E-AE03-8EDD272D21FA}"},
      {IID_INapComponentConfig2, u"{47CBDB9E-1972-4F5E-BD3C-5EB6230614B5}"},
      {IID_INapComponentConfig3, u"{9C4A8101-8CFE-4332-876E-C4A49D1D3F77}"},
      {IID_INapSystemHealthValidationRequest2, u"{91A5D706-0CB4-4A84-8315-9380D453E385}"},
      {IID_INapServerManagement, u"{9DE543E7-0F23-47E0-A8BC-971A894F86D4}"},
      {IID_INapSystemHealthValidationRequest, u"{ADACB3A0-D4F4-4F17-8933-51D60FCCA606}"},
      {IID_INapServerCallback, u"{09C20568-F30C-489B-AE9C-4930AD7F165F}"},
      {IID_INapSoHConstructor, u"{35298344-96A6-45E7-9B6B-62ECC6E09920}"},
      {IID_INapSoHProcessor, u"{FB2FA8B0-2CD5-457D-ABA8-4376F63EA1C0}"},
      {clsid_nap_soh_constructor, u"{E8140D53-6535-46A5-B8A1-DA6C571DA9B9}"},
      {clsid_nap_soh_processor, u"{AA160628-8775-46E3-837C-F7A2AE66E2F5}"},
      {clsid_nap_server_management, u"{BFCB2C6D-04AA-4FB9-BC72-58E1AF64BE39}"},
  };
  for (const named_t& n : ids) {
    IID parsed{};
    ASSERT_EQ(IIDFromString(n.text, &parsed), S_OK);
    OLECHAR printed[39];
    ASSERT_EQ(StringFromGUID2(n.iid, printed, 39), 39);
    EXPECT_TRUE(parsed == n.iid);
    EXPECT_EQ(std::u16string(printed), n.text);
  }
}

}  // namespace
