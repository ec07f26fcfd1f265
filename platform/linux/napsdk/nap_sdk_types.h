// NAP SDK records and constants with the SDK's layouts (naptypes.h,
// napprotocol.h).
#pragma once

#include "platform/linux/com/com_api.h"

typedef uint8_t UINT8;
typedef uint16_t UINT16;
typedef uint32_t UINT32;
typedef struct HWND__* HWND;

#define freshSoHRequest (0x1)
#define shaFixup (0x1)
#define percentageNotSupported (101)
#define maxSoHAttributeCount (100)
#define maxSoHAttributeSize (4000)
#define minNetworkSoHSize (12)
#define maxNetworkSoHSize (4000)
#define maxStringLength (1024)
#define maxStringLengthInBytes ((maxStringLength + 1) * sizeof(WCHAR))
#define maxSystemHealthEntityCount (20)
#define maxPrivateDataSize (200)
#define failureCategoryCount (5)
#define ComponentTypeEnforcementClientSoH (0x1)
#define ComponentTypeEnforcementClientRp (0x2)

typedef enum tagIsolationState {
  isolationStateNotRestricted = 1,
  isolationStateInProbation = 2,
  isolationStateRestrictedAccess = 3
} IsolationState;

typedef enum tagFailureCategory {
  failureCategoryNone = 0,
  failureCategoryOther = 1,
  failureCategoryClientComponent = 2,
  failureCategoryClientCommunication = 3,
  failureCategoryServerComponent = 4,
  failureCategoryServerCommunication = 5
} FailureCategory;

typedef enum tagFixupState {
  fixupStateSuccess = 0,
  fixupStateInProgress = 1,
  fixupStateCouldNotUpdate = 2
} FixupState;

typedef FILETIME ProbationTime;
typedef UINT32 MessageId;
typedef UINT32 NapComponentId;
typedef NapComponentId SystemHealthEntityId;
typedef NapComponentId EnforcementEntityId;
typedef UINT16 SystemHealthEntityCount;
typedef UINT8 Percentage;
typedef GUID ConnectionId;

typedef struct tagCountedString {
  UINT16 length;
  WCHAR* string;
} CountedString;
typedef CountedString StringCorrelationId;

typedef struct tagIsolationInfo {
  IsolationState isolationState;
  ProbationTime probEndTime;
  CountedString failureUrl;
} IsolationInfo;

typedef struct tagFailureCategoryMapping {
  BOOL mappingCompliance[failureCategoryCount];
} FailureCategoryMapping;

typedef struct tagCorrelationId {
  GUID connId;
  FILETIME timeStamp;
} CorrelationId;

typedef struct tagResultCodes {
  UINT16 count;
  HRESULT* results;
} ResultCodes;

typedef struct tagIpv4Address {
  BYTE addr[4];
} Ipv4Address;

typedef struct tagIpv6Address {
  BYTE addr[16];
} Ipv6Address;

typedef struct tagFixupInfo {
  FixupState state;
  Percentage percentage;
  ResultCodes resultCodes;
  MessageId fixupMsgId;
} FixupInfo;

typedef struct tagSoHAttribute {
  UINT16 type;
  UINT16 size;
  BYTE* value;
} SoHAttribute;

typedef struct tagSoH {
  UINT16 count;
  SoHAttribute* attributes;
} SoH;
typedef struct tagSoH SoHRequest;
typedef struct tagSoH SoHResponse;

typedef struct tagNetworkSoH {
  UINT16 size;
  BYTE* data;
} NetworkSoH;

typedef struct tagPrivateData {
  UINT16 size;
  BYTE* data;
} PrivateData;

typedef struct tagNapComponentRegistrationInfo {
  NapComponentId id;
  CountedString friendlyName;
  CountedString description;
  CountedString version;
  CountedString vendorName;
  CLSID infoClsid;
  CLSID configClsid;
  FILETIME registrationDate;
  UINT32 componentType;
} NapComponentRegistrationInfo;

typedef enum tagSoHAttributeType {
  sohAttributeTypeSystemHealthId = 2,
  sohAttributeTypeIpv4FixupServers = 3,
  sohAttributeTypeComplianceResultCodes = 4,
  sohAttributeTypeTimeOfLastUpdate = 5,
  sohAttributeTypeClientId = 6,
  sohAttributeTypeVendorSpecific = 7,
  sohAttributeTypeHealthClass = 8,
  sohAttributeTypeSoftwareVersion = 9,
  sohAttributeTypeProductName = 10,
  sohAttributeTypeHealthClassStatus = 11,
  sohAttributeTypeSoHGenerationTime = 12,
  sohAttributeTypeErrorCodes = 13,
  sohAttributeTypeFailureCategory = 14,
  sohAttributeTypeIpv6FixupServers = 15,
  sohAttributeTypeExtendedIsolationState = 16
} SoHAttributeType;

typedef union tagSoHAttributeValue {
  SystemHealthEntityId idVal;
  struct tagIpv4Addresses {
    UINT16 count;
    Ipv4Address* addresses;
  } v4AddressesVal;
  struct tagIpv6Addresses {
    UINT16 count;
    Ipv6Address* addresses;
  } v6AddressesVal;
  ResultCodes codesVal;
  FILETIME dateTimeVal;
  struct tagVendorSpecific {
    UINT32 vendorId;
    UINT16 size;
    BYTE* vendorSpecificData;
  } vendorSpecificVal;
  UINT8 uint8Val;
  struct tagOctetString {
    UINT16 size;
    BYTE* data;
  } octetStringVal;
} SoHAttributeValue;

// NAP results.
#define NAP_E_INVALID_PACKET static_cast<HRESULT>(0x80270001u)
#define NAP_E_MISSING_SOH static_cast<HRESULT>(0x80270002u)
#define NAP_E_CONFLICTING_ID static_cast<HRESULT>(0x80270003u)
#define NAP_E_NOT_REGISTERED static_cast<HRESULT>(0x80270006u)
#define NAP_E_SHV_CONFIG_EXISTED static_cast<HRESULT>(0x80270011u)
#define NAP_E_SHV_CONFIG_NOT_FOUND static_cast<HRESULT>(0x80270012u)
#define NAP_E_SHV_TIMEOUT static_cast<HRESULT>(0x80270013u)

typedef enum tagRemoteConfigurationType {
  remoteConfigTypeMachine = 1,
  remoteConfigTypeConfigBlob = 2
} RemoteConfigurationType;
