// The NAP utility library stand-in through its exports: what the allocating
// functions hand out, and which blocks the freeing ones give back. The
// sanitizer build's leak checker adds every block these functions fail to free.
#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <set>

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include "qutil_env.h"

#ifndef _WIN32
namespace {
std::mutex watch_lock;
std::set<void*>* watched_frees = nullptr;
}  // namespace

// The task allocator's free as the utility library finds it: this program
// exports its own definition (visible despite the build's hidden default),
// which notes the block for a watching test and hands it on to the
// allocator's.
__attribute__((visibility("default"))) void CoTaskMemFree(LPVOID memory) {
  static const auto allocator_free = reinterpret_cast<void (*)(LPVOID)>(dlsym(RTLD_NEXT, "_Z13CoTaskMemFreePv"));
  if (memory != nullptr) {
    const std::lock_guard<std::mutex> guard(watch_lock);
    if (watched_frees != nullptr) watched_frees->insert(memory);
  }
  allocator_free(memory);
}
#endif

namespace {

using test_support::bind_real_qutil;

template <class T>
T* task_array(size_t count) {
  auto* p = static_cast<T*>(CoTaskMemAlloc(sizeof(T) * count));
  std::memset(static_cast<void*>(p), 0, sizeof(T) * count);
  return p;
}

// call gives exactly blocks back to the task allocator. Windows' allocator
// cannot be watched this way: there the call runs unchecked, and the Linux
// builds' checks stand for the same code.
template <class F>
void expect_frees(F call, const std::set<void*>& blocks) {
#ifdef _WIN32
  call();
  (void)blocks;
#else
  std::set<void*> seen;
  {
    const std::lock_guard<std::mutex> guard(watch_lock);
    watched_frees = &seen;
  }
  call();
  {
    const std::lock_guard<std::mutex> guard(watch_lock);
    watched_frees = nullptr;
  }
  EXPECT_EQ(seen, blocks);
#endif
}

class qutil : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(bind_real_qutil()); }
};

TEST_F(qutil, alloc_counted_string_allocates_record_and_terminated_copy) {
  CountedString* cs = nullptr;
  ASSERT_EQ(napcommon::AllocCountedString(&cs, plat::wstr(u"Grüße")), S_OK);
  ASSERT_NE(cs, nullptr);
  EXPECT_EQ(cs->length, 5);
  EXPECT_EQ(std::u16string(plat::u16(cs->string)), u"Grüße");
  CoTaskMemFree(cs->string);
  CoTaskMemFree(cs);
  EXPECT_EQ(napcommon::AllocCountedString(nullptr, plat::wstr(u"x")), E_POINTER);
  cs = reinterpret_cast<CountedString*>(1);
  EXPECT_EQ(napcommon::AllocCountedString(&cs, nullptr), E_POINTER);
  EXPECT_EQ(cs, nullptr);
}

TEST_F(qutil, alloc_fixup_info_is_zeroed_with_room_for_codes) {
  FixupInfo* info = nullptr;
  ASSERT_EQ(napcommon::AllocFixupInfo(&info, 3), S_OK);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->state, fixupStateSuccess);
  EXPECT_EQ(info->resultCodes.count, 3);
  ASSERT_NE(info->resultCodes.results, nullptr);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(info->resultCodes.results[i], 0);
  info->resultCodes.results[2] = E_FAIL;
  CoTaskMemFree(info->resultCodes.results);
  CoTaskMemFree(info);

  ASSERT_EQ(napcommon::AllocFixupInfo(&info, 0), S_OK);
  EXPECT_EQ(info->resultCodes.count, 0);
  EXPECT_EQ(info->resultCodes.results, nullptr);
  CoTaskMemFree(info);
  EXPECT_EQ(napcommon::AllocFixupInfo(nullptr, 1), E_POINTER);
}

TEST_F(qutil, free_soh_releases_record_attributes_and_values) {
  auto* soh = task_array<SoH>(1);
  soh->count = 3;
  soh->attributes = task_array<SoHAttribute>(3);
  std::set<void*> blocks = {soh, soh->attributes};
  const UINT16 sizes[] = {4, 12, 0};
  for (int i = 0; i < 3; ++i) {
    soh->attributes[i].type = static_cast<UINT16>(i == 0 ? sohAttributeTypeSystemHealthId : sohAttributeTypeVendorSpecific);
    soh->attributes[i].size = sizes[i];
    soh->attributes[i].value = sizes[i] ? task_array<BYTE>(sizes[i]) : nullptr;
    if (sizes[i]) blocks.insert(soh->attributes[i].value);
  }
  expect_frees([&] { napcommon::FreeSoH(soh); }, blocks);
  expect_frees([] { napcommon::FreeSoH(nullptr); }, {});
  auto* empty = task_array<SoH>(1);
  expect_frees([&] { napcommon::FreeSoH(empty); }, {empty});
}

TEST_F(qutil, free_attribute_value_releases_what_each_type_owns) {
  auto make = [] { return task_array<SoHAttributeValue>(1); };
  SoHAttributeValue* v = make();
  v->codesVal.count = 2;
  v->codesVal.results = task_array<HRESULT>(2);
  expect_frees([&] { napcommon::FreeSoHAttributeValue(sohAttributeTypeComplianceResultCodes, v); },
               {v, v->codesVal.results});
  v = make();
  v->vendorSpecificVal.size = 8;
  v->vendorSpecificVal.vendorSpecificData = task_array<BYTE>(8);
  expect_frees([&] { napcommon::FreeSoHAttributeValue(sohAttributeTypeVendorSpecific, v); },
               {v, v->vendorSpecificVal.vendorSpecificData});
  v = make();
  v->v4AddressesVal.count = 1;
  v->v4AddressesVal.addresses = task_array<Ipv4Address>(1);
  expect_frees([&] { napcommon::FreeSoHAttributeValue(sohAttributeTypeIpv4FixupServers, v); },
               {v, v->v4AddressesVal.addresses});
  v = make();
  v->v6AddressesVal.addresses = task_array<Ipv6Address>(2);
  expect_frees([&] { napcommon::FreeSoHAttributeValue(sohAttributeTypeIpv6FixupServers, v); },
               {v, v->v6AddressesVal.addresses});
  v = make();
  v->octetStringVal.data = task_array<BYTE>(5);
  expect_frees([&] { napcommon::FreeSoHAttributeValue(sohAttributeTypeProductName, v); }, {v, v->octetStringVal.data});
  v = make();
  v->uint8Val = 5;  // owns nothing; its bytes must not be taken for a pointer
  v->dateTimeVal.dwHighDateTime = 0xDEADBEEF;
  expect_frees([&] { napcommon::FreeSoHAttributeValue(sohAttributeTypeFailureCategory, v); }, {v});
  v = make();
  v->dateTimeVal = {0x12345678, 0x9ABCDEF0};
  expect_frees([&] { napcommon::FreeSoHAttributeValue(sohAttributeTypeSoHGenerationTime, v); }, {v});
  expect_frees([] { napcommon::FreeSoHAttributeValue(sohAttributeTypeVendorSpecific, nullptr); }, {});
}

TEST_F(qutil, free_isolation_info_releases_its_url) {
  auto* info = task_array<IsolationInfo>(1);
  CountedString* url = nullptr;
  ASSERT_EQ(napcommon::AllocCountedString(&url, plat::wstr(u"http://fix.example/")), S_OK);
  info->failureUrl = *url;
  CoTaskMemFree(url);
  expect_frees([&] { napcommon::FreeIsolationInfo(info); }, {info, info->failureUrl.string});
  expect_frees([] { napcommon::FreeIsolationInfo(nullptr); }, {});
}

}  // namespace
