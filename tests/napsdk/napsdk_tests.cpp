// The NAP SDK stand-in as the validator meets it: registered in a real store,
// created through CoCreateInstance, its records freed by the utility library.
#include <gtest/gtest.h>

#include <cstring>

#include "base/com_ptr.h"
#include "common/component_ids.h"
#include "common/nap_common.h"
#include "platform/nap_sdk.h"
#include "platform/soh/soh_memory.h"
#include "registry_fixture.h"

namespace {

using base_n::com_ptr_t;

class napsdk_test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(napcommon::bind_qutil());
    module_ = LoadLibraryA("napsdk.dll");
    ASSERT_NE(module_, nullptr);
    auto reg = reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void*>(GetProcAddress(module_, "DllRegisterServer")));
    ASSERT_NE(reg, nullptr);
    ASSERT_EQ(reg(), S_OK);
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }
  template <class I>
  com_ptr_t<I> create(const CLSID& clsid, const IID& iid) {
    com_ptr_t<I> p;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, p.out_void()), S_OK);
    return p;
  }
  test_support::temp_store_t store_;
  HMODULE module_ = nullptr;
};

struct soh_owner_t {
  SoH* soh = nullptr;
  ~soh_owner_t() {
    if (soh) napcommon::FreeSoH(soh);
  }
};

TEST_F(napsdk_test, writer_then_reader_round_trip) {
  auto writer = create<INapSoHConstructor>(clsid_nap_soh_constructor, IID_INapSoHConstructor);
  ASSERT_TRUE(writer);
  SoHAttributeValue value;
  std::memset(&value, 0, sizeof(value));
  EXPECT_EQ(writer->AppendAttribute(sohAttributeTypeFailureCategory, &value), E_UNEXPECTED) << "before Initialize";
  ASSERT_EQ(writer->Initialize(0x0073FA02, FALSE), S_OK);
  HRESULT code = static_cast<HRESULT>(0x80270050);
  value.codesVal.count = 1;
  value.codesVal.results = &code;
  ASSERT_EQ(writer->AppendAttribute(sohAttributeTypeComplianceResultCodes, &value), S_OK);
  value.idVal = 1;
  EXPECT_EQ(writer->AppendAttribute(sohAttributeTypeSystemHealthId, &value), E_INVALIDARG);
  soh_owner_t soh;
  ASSERT_EQ(writer->GetSoH(&soh.soh), S_OK);
  ASSERT_EQ(soh.soh->count, 2);
  // On the wire: id first, then one big-endian code.
  EXPECT_EQ(soh_wire::encode_attributes(soh_memory::read_soh(*soh.soh)),
            (std::vector<uint8_t>{0, 2, 0, 4, 0x00, 0x73, 0xFA, 0x02, 0, 4, 0, 4, 0x80, 0x27, 0x00, 0x50}));
  EXPECT_EQ(writer->Validate(soh.soh, FALSE), S_OK);

  auto reader = create<INapSoHProcessor>(clsid_nap_soh_processor, IID_INapSoHProcessor);
  SystemHealthEntityId id = 0;
  ASSERT_EQ(reader->Initialize(soh.soh, FALSE, &id), S_OK);
  EXPECT_EQ(id, 0x0073FA02u);
  UINT16 location = 99;
  ASSERT_EQ(reader->FindNextAttribute(0, sohAttributeTypeComplianceResultCodes, &location), S_OK);
  EXPECT_EQ(location, 1);
  EXPECT_EQ(reader->FindNextAttribute(2, sohAttributeTypeComplianceResultCodes, &location), static_cast<HRESULT>(0x80070002));
  EXPECT_EQ(reader->FindNextAttribute(0, sohAttributeTypeVendorSpecific, &location), static_cast<HRESULT>(0x80070002));
  SoHAttributeType type;
  SoHAttributeValue* decoded = nullptr;
  ASSERT_EQ(reader->GetAttribute(1, &type, &decoded), S_OK);
  EXPECT_EQ(type, sohAttributeTypeComplianceResultCodes);
  ASSERT_EQ(decoded->codesVal.count, 1);
  EXPECT_EQ(decoded->codesVal.results[0], static_cast<HRESULT>(0x80270050));
  napcommon::FreeSoHAttributeValue(type, decoded);
  EXPECT_EQ(reader->GetAttribute(2, &type, &decoded), E_INVALIDARG);
}

TEST_F(napsdk_test, reader_decodes_vendor_data_and_rejects_malformed_records) {
  soh_owner_t soh;
  soh.soh = soh_memory::make_soh({soh_wire::make_system_health_id(0x0073FA02),
                                  soh_wire::make_vendor_specific(0x0073FA02, std::string("1 a\0b", 5))});
  auto reader = create<INapSoHProcessor>(clsid_nap_soh_processor, IID_INapSoHProcessor);
  SystemHealthEntityId id = 0;
  ASSERT_EQ(reader->Initialize(soh.soh, TRUE, &id), S_OK);
  SoHAttributeType type;
  SoHAttributeValue* value = nullptr;
  ASSERT_EQ(reader->GetAttribute(1, &type, &value), S_OK);
  EXPECT_EQ(value->vendorSpecificVal.vendorId, 0x0073FA02u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(value->vendorSpecificVal.vendorSpecificData), value->vendorSpecificVal.size),
            std::string("1 a\0b", 5));
  napcommon::FreeSoHAttributeValue(type, value);

  soh_owner_t headless;
  headless.soh = soh_memory::make_soh({soh_wire::make_failure_category(5)});
  EXPECT_EQ(reader->Initialize(headless.soh, TRUE, &id), NAP_E_INVALID_PACKET);
  UINT16 location;
  EXPECT_EQ(reader->FindNextAttribute(0, sohAttributeTypeVendorSpecific, &location), E_UNEXPECTED);
  soh_owner_t short_vendor;
  short_vendor.soh = soh_memory::make_soh({soh_wire::make_system_health_id(1), soh_wire::attribute_t{7, {1, 2}}});
  EXPECT_EQ(reader->Initialize(short_vendor.soh, TRUE, &id), NAP_E_INVALID_PACKET);
  EXPECT_EQ(reader->Initialize(nullptr, TRUE, &id), E_POINTER);
}

TEST_F(napsdk_test, server_management_keeps_registrations) {
  auto management = create<INapServerManagement>(clsid_nap_server_management, IID_INapServerManagement);
  ASSERT_TRUE(management);
  napcommon::nap_reginfo_t info;
  info.id = 0x0073FA02;
  ASSERT_EQ(napcommon::FillCountedString(plat::wstr(u"Friendly"), &info.friendlyName), S_OK);
  ASSERT_EQ(napcommon::FillCountedString(plat::wstr(u"1.0.0.1"), &info.version), S_OK);
  const CLSID clsid = CLSID_SHVValidator;
  info.infoClsid = clsid;
  EXPECT_EQ(management->UnregisterSystemHealthValidator(0x0073FA02), NAP_E_NOT_REGISTERED);
  ASSERT_EQ(management->RegisterSystemHealthValidator(&info, &clsid), S_OK);
  EXPECT_EQ(management->RegisterSystemHealthValidator(&info, &clsid), NAP_E_CONFLICTING_ID);
  const auto shown = test_support::run_program(test_support::bin_dir() + "/reg",
                                               {"query", "HKLM\\SOFTWARE\\NapServer\\SystemHealthValidators\\0073FA02"});
  EXPECT_EQ(shown.status, 0) << shown.err;
  EXPECT_NE(shown.out.find("FriendlyName    REG_SZ    Friendly"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("Version    REG_SZ    1.0.0.1"), std::string::npos) << shown.out;
  EXPECT_NE(shown.out.find("InfoClsid    REG_SZ    {60D48D71-1C65-4775-A2C2-2E331632914D}"), std::string::npos);
  EXPECT_NE(shown.out.find("Id    REG_DWORD    0x73fa02"), std::string::npos) << shown.out;
  EXPECT_EQ(management->UnregisterSystemHealthValidator(0x0073FA02), S_OK);
  EXPECT_EQ(management->UnregisterSystemHealthValidator(0x0073FA02), NAP_E_NOT_REGISTERED);
}

TEST_F(napsdk_test, unregistered_module_classes_are_unknown) {
  auto unreg = reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void*>(GetProcAddress(module_, "DllUnregisterServer")));
  ASSERT_EQ(unreg(), S_OK);
  com_ptr_t<INapSoHProcessor> p;
  EXPECT_EQ(CoCreateInstance(clsid_nap_soh_processor, nullptr, CLSCTX_INPROC_SERVER, IID_INapSoHProcessor, p.out_void()),
            REGDB_E_CLASSNOTREG);
}

}  // namespace
