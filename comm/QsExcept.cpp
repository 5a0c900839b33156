#include "comm/QsExcept.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <span>

#include "comm/QsMisc.h"
#include "comm/QsStrRes.h"
#include "platform/Component.h"
#include "platform/SystemErrors.h"

namespace {

constexpr std::size_t kMaxMessageLength = 255;

// Cuts a UTF-8 text to at most count characters, never inside a character.
std::string CutToCharacters(std::string text, std::size_t count) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (characters++ == count) {
      text.resize(i);
      break;
    }
  }
  return text;
}

// A system text with control characters turned into blanks and runs of blanks folded into one
// (the system's texts may end in a line end), at most 255 characters.
std::string CleanSystemText(const std::string& raw) {
  std::string text = CutToCharacters(raw, kMaxMessageLength);
  std::string cleaned;
  cleaned.reserve(text.size());
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 32) c = ' ';
    if (c == ' ' && !cleaned.empty() && cleaned.back() == ' ') continue;
    cleaned.push_back(c);
  }
  return cleaned;
}

// The system's own text for an error number; empty when the system has none.
std::string SystemMessage(int number) { return CleanSystemText(platform::SystemErrorText(number)); }

std::string TableText(int id) {
  try {
    return ErrorTexts().TextById(id);
  } catch (const EQsStringResourceError&) {
    return {};  // a broken table already ended start-up; here the system's text still serves
  }
}

using Thrower = void (*)(int code);

template <class E>
[[noreturn]] void Throw(int code) {
  throw E(code);
}

struct LeafMapping {
  std::int64_t magnitude;
  Thrower raise;
};

// Every code magnitude that has an exception class of its own, ascending.
constexpr LeafMapping kLeafMappings[] = {
    {1002, &Throw<EBadArgument>},
    {1003, &Throw<EGotQuitMsg>},
    {1004, &Throw<EBufferTooBig>},
    {1005, &Throw<EPortNotAssigned>},
    {1006, &Throw<EInternal>},
    {1007, &Throw<EModemNotAssigned>},
    {1008, &Throw<EPhonebookNotAssigned>},
    {1009, &Throw<ECannotUseWithWinSock>},
    {2001, &Throw<EBadId>},
    {2002, &Throw<EBaudRate>},
    {2003, &Throw<EByteSize>},
    {2004, &Throw<EDefault>},
    {2005, &Throw<EHardware>},
    {2006, &Throw<EMemory>},
    {2007, &Throw<ECommNotOpen>},
    {2008, &Throw<EAlreadyOpen>},
    {2009, &Throw<ENoHandles>},
    {2010, &Throw<ENoTimers>},
    {2011, &Throw<ENoPortSelected>},
    {2012, &Throw<ENotOpenedByTapi>},
    {3001, &Throw<ENullApi>},
    {3003, &Throw<ERegisterHandlerFailed>},
    {3004, &Throw<EPutBlockFail>},
    {3005, &Throw<EGetBlockFail>},
    {3006, &Throw<EOutputBufferTooSmall>},
    {3007, &Throw<EBufferIsEmpty>},
    {3008, &Throw<ETracingNotEnabled>},
    {3009, &Throw<ELoggingNotEnabled>},
    {3010, &Throw<EBaseAddressNotSet>},
    {4001, &Throw<EModemNotStarted>},
    {4002, &Throw<EModemBusy>},
    {4003, &Throw<EModemNotDialing>},
    {4004, &Throw<ENotDialing>},
    {4005, &Throw<EAlreadyDialing>},
    {4006, &Throw<EModemNotResponding>},
    {4007, &Throw<EModemRejectedCommand>},
    {4008, &Throw<EModemStatusMismatch>},
    {5002, &Throw<ETriggerTooLong>},
    {5003, &Throw<EBadTriggerHandle>},
    {6006, &Throw<EProtocol>},
    {6008, &Throw<EProtocol>},
    {6009, &Throw<EProtocol>},
    {7001, &Throw<EKeyTooLong>},
    {7002, &Throw<EDataTooLarge>},
    {7003, &Throw<EInternal>},
    {7004, &Throw<EIniWrite>},
    {7005, &Throw<EIniRead>},
    {7006, &Throw<EInternal>},
    {7007, &Throw<ERecordExists>},
    {7008, &Throw<ERecordNotFound>},
    {7010, &Throw<EDatabaseFull>},
    {7011, &Throw<EDatabaseEmpty>},
    {7012, &Throw<EInternal>},
    {7013, &Throw<EBadFieldList>},
    {7014, &Throw<EBadFieldForIndex>},
    {8001, &Throw<EFaxBadFormat>},
    {8002, &Throw<EBadGraphicsFormat>},
    {8003, &Throw<EConvertAbort>},
    {8004, &Throw<EUnpackAbort>},
    {8005, &Throw<ECantMakeBitmap>},
    {8053, &Throw<EInvalidPageNumber>},
    {8060, &Throw<EFaxBadMachine>},
    {8061, &Throw<EFaxBadModemResult>},
    {8062, &Throw<EFaxTrainError>},
    {8063, &Throw<EFaxInitError>},
    {8064, &Throw<EFaxBusy>},
    {8065, &Throw<EFaxVoiceCall>},
    {8066, &Throw<EFaxDataCall>},
    {8067, &Throw<EFaxNoDialTone>},
    {8068, &Throw<EFaxNoCarrier>},
    {8069, &Throw<EFaxSessionError>},
    {8070, &Throw<EFaxPageError>},
    {13801, &Throw<ETapiAllocated>},
    {13802, &Throw<ETapiBadDeviceID>},
    {13803, &Throw<ETapiBearerModeUnavail>},
    {13805, &Throw<ETapiCallUnavail>},
    {13806, &Throw<ETapiCompletionOverrun>},
    {13807, &Throw<ETapiConferenceFull>},
    {13808, &Throw<ETapiDialBilling>},
    {13809, &Throw<ETapiDialDialtone>},
    {13810, &Throw<ETapiDialPrompt>},
    {13811, &Throw<ETapiDialQuiet>},
    {13812, &Throw<ETapiIncompatibleApiVersion>},
    {13813, &Throw<ETapiIncompatibleExtVersion>},
    {13814, &Throw<ETapiIniFileCorrupt>},
    {13815, &Throw<ETapiInUse>},
    {13816, &Throw<ETapiInvalAddress>},
    {13817, &Throw<ETapiInvalAddressID>},
    {13818, &Throw<ETapiInvalAddressMode>},
    {13819, &Throw<ETapiInvalAddressState>},
    {13820, &Throw<ETapiInvalAppHandle>},
    {13821, &Throw<ETapiInvalAppName>},
    {13822, &Throw<ETapiInvalBearerMode>},
    {13823, &Throw<ETapiInvalCallComplMode>},
    {13824, &Throw<ETapiInvalCallHandle>},
    {13825, &Throw<ETapiInvalCallParams>},
    {13826, &Throw<ETapiInvalCallPrivilege>},
    {13827, &Throw<ETapiInvalCallSelect>},
    {13828, &Throw<ETapiInvalCallState>},
    {13829, &Throw<ETapiInvalCallStatelist>},
    {13830, &Throw<ETapiInvalCard>},
    {13831, &Throw<ETapiInvalCompletionID>},
    {13832, &Throw<ETapiInvalConfCallHandle>},
    {13833, &Throw<ETapiInvalConsultCallHandle>},
    {13834, &Throw<ETapiInvalCountryCode>},
    {13835, &Throw<ETapiInvalDeviceClass>},
    {13836, &Throw<ETapiInvalDeviceHandle>},
    {13837, &Throw<ETapiInvalDialParams>},
    {13838, &Throw<ETapiInvalDigitList>},
    {13839, &Throw<ETapiInvalDigitMode>},
    {13840, &Throw<ETapiInvalDigits>},
    {13841, &Throw<ETapiInvalExtVersion>},
    {13842, &Throw<ETapiInvalGroupID>},
    {13843, &Throw<ETapiInvalLineHandle>},
    {13844, &Throw<ETapiInvalLineState>},
    {13845, &Throw<ETapiInvalLocation>},
    {13846, &Throw<ETapiInvalMediaList>},
    {13847, &Throw<ETapiInvalMediaMode>},
    {13848, &Throw<ETapiInvalMessageID>},
    {13850, &Throw<ETapiInvalParam>},
    {13851, &Throw<ETapiInvalParkID>},
    {13852, &Throw<ETapiInvalParkMode>},
    {13853, &Throw<ETapiInvalPointer>},
    {13854, &Throw<ETapiInvalPrivSelect>},
    {13855, &Throw<ETapiInvalRate>},
    {13856, &Throw<ETapiInvalRequestMode>},
    {13857, &Throw<ETapiInvalTerminalID>},
    {13858, &Throw<ETapiInvalTerminalMode>},
    {13859, &Throw<ETapiInvalTimeout>},
    {13860, &Throw<ETapiInvalTone>},
    {13861, &Throw<ETapiInvalToneList>},
    {13862, &Throw<ETapiInvalToneMode>},
    {13863, &Throw<ETapiInvalTransferMode>},
    {13864, &Throw<ETapiLineMapperFailed>},
    {13865, &Throw<ETapiNoConference>},
    {13866, &Throw<ETapiNoDevice>},
    {13867, &Throw<ETapiNoDriver>},
    {13868, &Throw<ETapiNoMem>},
    {13869, &Throw<ETapiNoRequest>},
    {13870, &Throw<ETapiNotOwner>},
    {13871, &Throw<ETapiNotRegistered>},
    {13872, &Throw<ETapiOperationFailed>},
    {13873, &Throw<ETapiOperationUnavail>},
    {13874, &Throw<ETapiRateUnavail>},
    {13875, &Throw<ETapiResourceUnavail>},
    {13876, &Throw<ETapiRequestOverrun>},
    {13877, &Throw<ETapiStructureTooSmall>},
    {13878, &Throw<ETapiTargetNotFound>},
    {13879, &Throw<ETapiTargetSelf>},
    {13880, &Throw<ETapiUninitialized>},
    {13881, &Throw<ETapiUserUserInfoTooBig>},
    {13882, &Throw<ETapiReinit>},
    {13883, &Throw<ETapiAddressBlocked>},
    {13884, &Throw<ETapiBillingRejected>},
    {13885, &Throw<ETapiInvalFeature>},
    {13886, &Throw<ETapiNoMultipleInstance>},
    {13928, &Throw<ETapiBusy>},
    {13929, &Throw<ETapiNotSet>},
    {13930, &Throw<ETapiNoSelect>},
    {13931, &Throw<ETapiLoadFail>},
    {13932, &Throw<ETapiGetAddrFail>},
    {13933, &Throw<ETapi16Disabled>},
    {13935, &Throw<ETapiVoiceNotSupported>},
    {13936, &Throw<ETapiWaveFail>},
    {13942, &Throw<ETapiTranslateFail>},
    {13980, &Throw<ERasLoadFail>},
};
static_assert(std::ranges::is_sorted(kLeafMappings, {}, &LeafMapping::magnitude));

const LeafMapping* FindLeaf(std::int64_t magnitude) {
  const auto it = std::ranges::lower_bound(kLeafMappings, magnitude, {}, &LeafMapping::magnitude);
  return it != std::end(kLeafMappings) && it->magnitude == magnitude ? &*it : nullptr;
}

constexpr std::int64_t kFirstSystemIoError = 2;
constexpr std::int64_t kLastSystemIoError = 162;
constexpr std::int64_t kSystemOutOfMemory = 8;

}  // namespace

EQsException::EQsException(int code) : platform::Exception(MessageForCode(code)), code_(code) {}

EQsException::EQsException(std::string message) : platform::Exception(std::move(message)), code_(0) {}

EQsSocketException::EQsSocketException(int code) : EQsSocketException(code, MessageForCode(code)) {}

EQsSocketException::EQsSocketException(int code, std::string message)
    : platform::Exception(std::move(message)), code_(code) {}

EQsSocketException EQsSocketException::NotInitialized(int code) {
  std::string text = MessageForCode(kWinsockNotInitializedTextId);
  const std::size_t placeholder = text.find("%s");
  const std::string detail = MessageForCode(code);
  if (placeholder != std::string::npos)
    text.replace(placeholder, 2, detail);
  else
    text += detail;
  return EQsSocketException(code, std::move(text));
}

// The table's texts never change once it is open, and refusals can be raised at every byte a
// handler sees: each text is decoded once. Only texts found in the table are kept, so the cache
// is bounded by the table. It is never destroyed, so that an exception raised by another static
// object's destructor at exit still finds it whole.
std::string MessageForCode(int code) {
  const int id = std::abs(static_cast<int>(static_cast<std::int16_t>(code)));
  static std::mutex& mutex = *new std::mutex;
  static std::map<int, std::string>& decoded = *new std::map<int, std::string>;
  {
    std::lock_guard lock(mutex);
    if (const auto it = decoded.find(id); it != decoded.end()) return it->second;
  }
  std::string text = CutToCharacters(TableText(id), kMaxMessageLength);
  if (text.empty()) return SystemMessage(id);
  std::lock_guard lock(mutex);
  return decoded.try_emplace(id, std::move(text)).first->second;
}

int RaiseForCode(const platform::TComponent* component, int code) {
  if (code >= 0 || (component != nullptr && component->IsLoading())) return code;
  const std::int64_t magnitude = -static_cast<std::int64_t>(code);
  if (const LeafMapping* leaf = FindLeaf(magnitude)) leaf->raise(code);
  if (magnitude == kSystemOutOfMemory) throw platform::EOutOfMemory();
  if (magnitude >= kFirstSystemIoError && magnitude <= kLastSystemIoError) {
    const int number = static_cast<int>(magnitude);
    throw platform::EInOutError(MessageForCode(number), number);
  }
  // The code's number is not kept: callers only learn that the engine failed.
  throw EQsException(std::string("Qs exception"));
}

int RaiseForFileError(const platform::TComponent* component, int code) {
  if (code >= 0 || (component != nullptr && component->IsLoading())) return code;
  const int number = -code;
  throw platform::EInOutError(CleanSystemText(platform::ErrnoText(number)), number);
}
