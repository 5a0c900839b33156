// The engine's exceptions: EQsException with its code, one family class per kind of failure and one
// leaf class per code that has its own exception; EQsSocketException for the socket layer and
// EQsStringResourceError for the message table reader. Also the code-to-text and code-to-exception
// routines that the components use at their boundary.
#pragma once

#include <cstdint>
#include <string>

#include "platform/SysUtils.h"

namespace platform {
class TComponent;
}

// Failures of the message table reader; message only.
class EQsStringResourceError : public platform::Exception {
 public:
  using platform::Exception::Exception;
};

class EQsException : public platform::Exception {
 public:
  // Code as given; the message is the text of the code's magnitude.
  explicit EQsException(int code);
  // Code 0.
  explicit EQsException(std::string message);

  std::int32_t Code() const noexcept { return code_; }

 private:
  std::int32_t code_;
};

// Failures of the socket layer. Not an EQsException: the socket codes have their own space.
class EQsSocketException : public platform::Exception {
 public:
  explicit EQsSocketException(int code);
  // "Winsock not initialized - " followed by the text of the code.
  static EQsSocketException NotInitialized(int code);

  std::int32_t Code() const noexcept { return code_; }

 private:
  EQsSocketException(int code, std::string message);
  std::int32_t code_;
};

// The text of a code: the message table's text of its 16-bit magnitude (at most 255 characters),
// else the system's text for that number with control characters and double blanks cleaned up,
// else empty.
std::string MessageForCode(int code);

// Returns code when it is not an error (0 or positive) or when the component is being loaded from
// its stored form; otherwise raises the exception that belongs to the code. A null component is
// not loading.
int RaiseForCode(const platform::TComponent* component, int code);

// The same for a file operation's -errno: raises platform::EInOutError with the C library's text
// for the errno value. Neither the message table nor the serial layer's numbering applies to it
// (the table's "Too many open files" is its 4, errno 4 is an interrupted call).
int RaiseForFileError(const platform::TComponent* component, int code);

// ---- Families -------------------------------------------------------------------------------

class EGeneral : public EQsException { public: using EQsException::EQsException; };
class EOpenComm : public EQsException { public: using EQsException::EQsException; };
class ESerialIO : public EQsException { public: using EQsException::EQsException; };
class EModem : public EQsException { public: using EQsException::EQsException; };
class ETrigger : public EQsException { public: using EQsException::EQsException; };
class EPacket : public EQsException { public: using EQsException::EQsException; };
class EProtocol : public EQsException { public: using EQsException::EQsException; };
class EINI : public EQsException { public: using EQsException::EQsException; };
class EFax : public EQsException { public: using EQsException::EQsException; };
class ETapi : public EQsException { public: using EQsException::EQsException; };
class ERas : public EQsException { public: using EQsException::EQsException; };

// ---- Leaves (RaiseForCode maps codes to them; EInvalidProperty is raised directly by data packets)
// clang-format off

class EBadArgument : public EGeneral { public: using EGeneral::EGeneral; };
class EGotQuitMsg : public EGeneral { public: using EGeneral::EGeneral; };
class EBufferTooBig : public EGeneral { public: using EGeneral::EGeneral; };
class EPortNotAssigned : public EGeneral { public: using EGeneral::EGeneral; };
class EInternal : public EGeneral { public: using EGeneral::EGeneral; };
class EModemNotAssigned : public EGeneral { public: using EGeneral::EGeneral; };
class EPhonebookNotAssigned : public EGeneral { public: using EGeneral::EGeneral; };
class ECannotUseWithWinSock : public EGeneral { public: using EGeneral::EGeneral; };

class EBadId : public EOpenComm { public: using EOpenComm::EOpenComm; };
class EBaudRate : public EOpenComm { public: using EOpenComm::EOpenComm; };
class EByteSize : public EOpenComm { public: using EOpenComm::EOpenComm; };
class EDefault : public EOpenComm { public: using EOpenComm::EOpenComm; };
class EHardware : public EOpenComm { public: using EOpenComm::EOpenComm; };
class EMemory : public EOpenComm { public: using EOpenComm::EOpenComm; };
class ECommNotOpen : public EOpenComm { public: using EOpenComm::EOpenComm; };
class EAlreadyOpen : public EOpenComm { public: using EOpenComm::EOpenComm; };
class ENoHandles : public EOpenComm { public: using EOpenComm::EOpenComm; };
class ENoTimers : public EOpenComm { public: using EOpenComm::EOpenComm; };
class ENoPortSelected : public EOpenComm { public: using EOpenComm::EOpenComm; };
class ENotOpenedByTapi : public EOpenComm { public: using EOpenComm::EOpenComm; };

class ENullApi : public ESerialIO { public: using ESerialIO::ESerialIO; };
class ERegisterHandlerFailed : public ESerialIO { public: using ESerialIO::ESerialIO; };
class EPutBlockFail : public ESerialIO { public: using ESerialIO::ESerialIO; };
class EGetBlockFail : public ESerialIO { public: using ESerialIO::ESerialIO; };
class EOutputBufferTooSmall : public ESerialIO { public: using ESerialIO::ESerialIO; };
class EBufferIsEmpty : public ESerialIO { public: using ESerialIO::ESerialIO; };
class ETracingNotEnabled : public ESerialIO { public: using ESerialIO::ESerialIO; };
class ELoggingNotEnabled : public ESerialIO { public: using ESerialIO::ESerialIO; };
class EBaseAddressNotSet : public ESerialIO { public: using ESerialIO::ESerialIO; };

class EModemNotStarted : public EModem { public: using EModem::EModem; };
class EModemBusy : public EModem { public: using EModem::EModem; };
class EModemNotDialing : public EModem { public: using EModem::EModem; };
class ENotDialing : public EModem { public: using EModem::EModem; };
class EAlreadyDialing : public EModem { public: using EModem::EModem; };
class EModemNotResponding : public EModem { public: using EModem::EModem; };
class EModemRejectedCommand : public EModem { public: using EModem::EModem; };
class EModemStatusMismatch : public EModem { public: using EModem::EModem; };

class ETriggerTooLong : public ETrigger { public: using ETrigger::ETrigger; };
class EBadTriggerHandle : public ETrigger { public: using ETrigger::ETrigger; };

class EInvalidProperty : public EPacket { public: using EPacket::EPacket; };

class EKeyTooLong : public EINI { public: using EINI::EINI; };
class EDataTooLarge : public EINI { public: using EINI::EINI; };
class EIniWrite : public EINI { public: using EINI::EINI; };
class EIniRead : public EINI { public: using EINI::EINI; };
class ERecordExists : public EINI { public: using EINI::EINI; };
class ERecordNotFound : public EINI { public: using EINI::EINI; };
class EDatabaseFull : public EINI { public: using EINI::EINI; };
class EDatabaseEmpty : public EINI { public: using EINI::EINI; };
class EBadFieldList : public EINI { public: using EINI::EINI; };
class EBadFieldForIndex : public EINI { public: using EINI::EINI; };

class EFaxBadFormat : public EFax { public: using EFax::EFax; };
class EBadGraphicsFormat : public EFax { public: using EFax::EFax; };
class EConvertAbort : public EFax { public: using EFax::EFax; };
class EUnpackAbort : public EFax { public: using EFax::EFax; };
class ECantMakeBitmap : public EFax { public: using EFax::EFax; };
class EInvalidPageNumber : public EFax { public: using EFax::EFax; };
class EFaxBadMachine : public EFax { public: using EFax::EFax; };
class EFaxBadModemResult : public EFax { public: using EFax::EFax; };
class EFaxTrainError : public EFax { public: using EFax::EFax; };
class EFaxInitError : public EFax { public: using EFax::EFax; };
class EFaxBusy : public EFax { public: using EFax::EFax; };
class EFaxVoiceCall : public EFax { public: using EFax::EFax; };
class EFaxDataCall : public EFax { public: using EFax::EFax; };
class EFaxNoDialTone : public EFax { public: using EFax::EFax; };
class EFaxNoCarrier : public EFax { public: using EFax::EFax; };
class EFaxSessionError : public EFax { public: using EFax::EFax; };
class EFaxPageError : public EFax { public: using EFax::EFax; };

class ETapiAllocated : public ETapi { public: using ETapi::ETapi; };
class ETapiBadDeviceID : public ETapi { public: using ETapi::ETapi; };
class ETapiBearerModeUnavail : public ETapi { public: using ETapi::ETapi; };
class ETapiCallUnavail : public ETapi { public: using ETapi::ETapi; };
class ETapiCompletionOverrun : public ETapi { public: using ETapi::ETapi; };
class ETapiConferenceFull : public ETapi { public: using ETapi::ETapi; };
class ETapiDialBilling : public ETapi { public: using ETapi::ETapi; };
class ETapiDialDialtone : public ETapi { public: using ETapi::ETapi; };
class ETapiDialPrompt : public ETapi { public: using ETapi::ETapi; };
class ETapiDialQuiet : public ETapi { public: using ETapi::ETapi; };
class ETapiIncompatibleApiVersion : public ETapi { public: using ETapi::ETapi; };
class ETapiIncompatibleExtVersion : public ETapi { public: using ETapi::ETapi; };
class ETapiIniFileCorrupt : public ETapi { public: using ETapi::ETapi; };
class ETapiInUse : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalAddress : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalAddressID : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalAddressMode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalAddressState : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalAppHandle : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalAppName : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalBearerMode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCallComplMode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCallHandle : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCallParams : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCallPrivilege : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCallSelect : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCallState : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCallStatelist : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCard : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCompletionID : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalConfCallHandle : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalConsultCallHandle : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalCountryCode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalDeviceClass : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalDeviceHandle : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalDialParams : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalDigitList : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalDigitMode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalDigits : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalExtVersion : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalGroupID : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalLineHandle : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalLineState : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalLocation : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalMediaList : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalMediaMode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalMessageID : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalParam : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalParkID : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalParkMode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalPointer : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalPrivSelect : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalRate : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalRequestMode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalTerminalID : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalTerminalMode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalTimeout : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalTone : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalToneList : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalToneMode : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalTransferMode : public ETapi { public: using ETapi::ETapi; };
class ETapiLineMapperFailed : public ETapi { public: using ETapi::ETapi; };
class ETapiNoConference : public ETapi { public: using ETapi::ETapi; };
class ETapiNoDevice : public ETapi { public: using ETapi::ETapi; };
class ETapiNoDriver : public ETapi { public: using ETapi::ETapi; };
class ETapiNoMem : public ETapi { public: using ETapi::ETapi; };
class ETapiNoRequest : public ETapi { public: using ETapi::ETapi; };
class ETapiNotOwner : public ETapi { public: using ETapi::ETapi; };
class ETapiNotRegistered : public ETapi { public: using ETapi::ETapi; };
class ETapiOperationFailed : public ETapi { public: using ETapi::ETapi; };
class ETapiOperationUnavail : public ETapi { public: using ETapi::ETapi; };
class ETapiRateUnavail : public ETapi { public: using ETapi::ETapi; };
class ETapiResourceUnavail : public ETapi { public: using ETapi::ETapi; };
class ETapiRequestOverrun : public ETapi { public: using ETapi::ETapi; };
class ETapiStructureTooSmall : public ETapi { public: using ETapi::ETapi; };
class ETapiTargetNotFound : public ETapi { public: using ETapi::ETapi; };
class ETapiTargetSelf : public ETapi { public: using ETapi::ETapi; };
class ETapiUninitialized : public ETapi { public: using ETapi::ETapi; };
class ETapiUserUserInfoTooBig : public ETapi { public: using ETapi::ETapi; };
class ETapiReinit : public ETapi { public: using ETapi::ETapi; };
class ETapiAddressBlocked : public ETapi { public: using ETapi::ETapi; };
class ETapiBillingRejected : public ETapi { public: using ETapi::ETapi; };
class ETapiInvalFeature : public ETapi { public: using ETapi::ETapi; };
class ETapiNoMultipleInstance : public ETapi { public: using ETapi::ETapi; };
class ETapiBusy : public ETapi { public: using ETapi::ETapi; };
class ETapiNotSet : public ETapi { public: using ETapi::ETapi; };
class ETapiNoSelect : public ETapi { public: using ETapi::ETapi; };
class ETapiLoadFail : public ETapi { public: using ETapi::ETapi; };
class ETapiGetAddrFail : public ETapi { public: using ETapi::ETapi; };
class ETapi16Disabled : public ETapi { public: using ETapi::ETapi; };
class ETapiVoiceNotSupported : public ETapi { public: using ETapi::ETapi; };
class ETapiWaveFail : public ETapi { public: using ETapi::ETapi; };
class ETapiTranslateFail : public ETapi { public: using ETapi::ETapi; };

class ERasLoadFail : public ERas { public: using ERas::ERas; };
// clang-format on
