// NAP SDK interfaces with the SDK's methods in the SDK's vtable order
// (napcommon.h, napsystemhealthvalidator.h, napservermanagement.h,
// napprotocol.h) and their interface ids. Each later generation of an
// interface derives from the one before, as in the SDK.
#pragma once

#include "platform/linux/napsdk/nap_sdk_types.h"

struct INapSystemHealthValidationRequest;
struct INapServerCallback;

struct INapComponentConfig : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE IsUISupported(BOOL* isSupported) = 0;
  virtual HRESULT STDMETHODCALLTYPE InvokeUI(HWND hwndParent) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetConfig(UINT16* bCount, BYTE** data) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetConfig(UINT16 bCount, BYTE* data) = 0;
};

struct INapComponentConfig2 : public INapComponentConfig {
  virtual HRESULT STDMETHODCALLTYPE IsRemoteConfigSupported(BOOL* isSupported, UINT8* remoteConfigType) = 0;
  virtual HRESULT STDMETHODCALLTYPE InvokeUIForMachine(HWND hwndParent, CountedString* machineName) = 0;
  virtual HRESULT STDMETHODCALLTYPE InvokeUIFromConfigBlob(HWND hwndParent, UINT16 inbCount, BYTE* inData,
                                                           UINT16* outbCount, BYTE** outdata,
                                                           BOOL* fConfigChanged) = 0;
};

struct INapComponentConfig3 : public INapComponentConfig2 {
  virtual HRESULT STDMETHODCALLTYPE NewConfig(UINT32 configID) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteConfig(UINT32 configID) = 0;
  virtual HRESULT STDMETHODCALLTYPE DeleteAllConfig() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetConfigFromID(UINT32 configID, UINT16* count, BYTE** outdata) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetConfigToID(UINT32 configID, UINT16 count, BYTE* data) = 0;
};

struct INapComponentInfo : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetFriendlyName(MessageId* friendlyName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDescription(MessageId* description) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetVendorName(MessageId* vendorName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetVersion(MessageId* version) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIcon(CountedString** dllFilePath, UINT32* iconResourceId) = 0;
  virtual HRESULT STDMETHODCALLTYPE ConvertErrorCodeToMessageId(HRESULT errorCode, MessageId* msgId) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetLocalizedString(MessageId msgId, CountedString** string) = 0;
};

struct INapSystemHealthValidator : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Validate(INapSystemHealthValidationRequest* request,
                                             UINT32 hintTimeOutInMsec, INapServerCallback* callback) = 0;
};

struct INapServerCallback : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE OnComplete(INapSystemHealthValidationRequest* request,
                                               HRESULT errorCode) = 0;
};

struct INapSystemHealthValidationRequest : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetCorrelationId(CorrelationId* correlationId) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetStringCorrelationId(StringCorrelationId** correlationId) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetMachineName(CountedString** machineName) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSoHRequest(SoHRequest** sohRequest, BOOL* napSystemGenerated) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetSoHResponse(const SoHResponse* sohResponse) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSoHResponse(SoHResponse** sohResponse) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPrivateData(const PrivateData* privateData) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPrivateData(PrivateData** privateData) = 0;
};

struct INapSystemHealthValidationRequest2 : public INapSystemHealthValidationRequest {
  virtual HRESULT STDMETHODCALLTYPE GetConfigID(UINT32* configID) = 0;
};

struct INapServerManagement : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE RegisterSystemHealthValidator(const NapComponentRegistrationInfo* validator,
                                                                  const CLSID* validatorClsid) = 0;
  virtual HRESULT STDMETHODCALLTYPE UnregisterSystemHealthValidator(SystemHealthEntityId id) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetFailureCategoryMappings(SystemHealthEntityId id,
                                                               const FailureCategoryMapping mapping) = 0;
};

struct INapSoHConstructor : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Initialize(SystemHealthEntityId id, BOOL isRequest) = 0;
  virtual HRESULT STDMETHODCALLTYPE AppendAttribute(SoHAttributeType type, const SoHAttributeValue* value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetSoH(SoH** soh) = 0;
  virtual HRESULT STDMETHODCALLTYPE Validate(const SoH* soh, BOOL isRequest) = 0;
};

struct INapSoHProcessor : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Initialize(const SoH* soh, BOOL isRequest, SystemHealthEntityId* id) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindNextAttribute(UINT16 fromLocation, SoHAttributeType type,
                                                      UINT16* attributeLocation) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAttribute(UINT16 attributeLocation, SoHAttributeType* type,
                                                 SoHAttributeValue** value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNumberOfAttributes(UINT16* attributeCount) = 0;
};

inline constexpr IID IID_INapComponentConfig = {0xa9e0af1a, 0x3713, 0x478e, {0xae, 0x03, 0x8e, 0xdd, 0x27, 0x2d, 0x21, 0xfa}};
inline constexpr IID IID_INapComponentConfig2 = {0x47cbdb9e, 0x1972, 0x4f5e, {0xbd, 0x3c, 0x5e, 0xb6, 0x23, 0x06, 0x14, 0xb5}};
inline constexpr IID IID_INapComponentConfig3 = {0x9c4a8101, 0x8cfe, 0x4332, {0x87, 0x6e, 0xc4, 0xa4, 0x9d, 0x1d, 0x3f, 0x77}};
inline constexpr IID IID_INapComponentInfo = {0xb475f925, 0xe3f7, 0x414c, {0x8c, 0x72, 0x1c, 0xee, 0x64, 0xb9, 0xd8, 0xf6}};
inline constexpr IID IID_INapSystemHealthValidator = {0xef43d87c, 0x5b6d, 0x4820, {0x86, 0x20, 0x86, 0x89, 0x07, 0xfe, 0x07, 0xd3}};
inline constexpr IID IID_INapServerCallback = {0x09c20568, 0xf30c, 0x489b, {0xae, 0x9c, 0x49, 0x30, 0xad, 0x7f, 0x16, 0x5f}};
inline constexpr IID IID_INapSystemHealthValidationRequest = {0xadacb3a0, 0xd4f4, 0x4f17, {0x89, 0x33, 0x51, 0xd6, 0x0f, 0xcc, 0xa6, 0x06}};
inline constexpr IID IID_INapSystemHealthValidationRequest2 = {0x91a5d706, 0x0cb4, 0x4a84, {0x83, 0x15, 0x93, 0x80, 0xd4, 0x53, 0xe3, 0x85}};
inline constexpr IID IID_INapServerManagement = {0x9de543e7, 0x0f23, 0x47e0, {0xa8, 0xbc, 0x97, 0x1a, 0x89, 0x4f, 0x86, 0xd4}};
inline constexpr IID IID_INapSoHConstructor = {0x35298344, 0x96a6, 0x45e7, {0x9b, 0x6b, 0x62, 0xec, 0xc6, 0xe0, 0x99, 0x20}};
inline constexpr IID IID_INapSoHProcessor = {0xfb2fa8b0, 0x2cd5, 0x457d, {0xab, 0xa8, 0x43, 0x76, 0xf6, 0x3e, 0xa1, 0xc0}};
