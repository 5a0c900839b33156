// The exception classes and the mapping of codes to them, the message of a code, and the
// components' base class.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <typeinfo>

#include "comm/QsExcept.h"
#include "comm/QsMisc.h"
#include "comm/QsStrRes.h"
#include "platform/Serial.h"

namespace {

// What RaiseForCode must raise for one code magnitude: exactly Leaf, derived from Family.
struct LeafCase {
  int magnitude;
  const std::type_info* leaf;
  std::function<bool(const EQsException&)> isOfFamily;
};

template <class Leaf, class Family>
LeafCase LeafOf(int magnitude) {
  static_assert(std::is_base_of_v<Family, Leaf> && std::is_base_of_v<EQsException, Family>);
  return {magnitude, &typeid(Leaf), [](const EQsException& e) { return dynamic_cast<const Family*>(&e) != nullptr; }};
}

const std::vector<LeafCase>& LeafCases() {
  static const std::vector<LeafCase> cases = {
    LeafOf<EBadArgument, EGeneral>(1002),
    LeafOf<EGotQuitMsg, EGeneral>(1003),
    LeafOf<EBufferTooBig, EGeneral>(1004),
    LeafOf<EPortNotAssigned, EGeneral>(1005),
    LeafOf<EInternal, EGeneral>(1006),
    LeafOf<EModemNotAssigned, EGeneral>(1007),
    LeafOf<EPhonebookNotAssigned, EGeneral>(1008),
    LeafOf<ECannotUseWithWinSock, EGeneral>(1009),
    LeafOf<EBadId, EOpenComm>(2001),
    LeafOf<EBaudRate, EOpenComm>(2002),
    LeafOf<EByteSize, EOpenComm>(2003),
    LeafOf<EDefault, EOpenComm>(2004),
    LeafOf<EHardware, EOpenComm>(2005),
    LeafOf<EMemory, EOpenComm>(2006),
    LeafOf<ECommNotOpen, EOpenComm>(2007),
    LeafOf<EAlreadyOpen, EOpenComm>(2008),
    LeafOf<ENoHandles, EOpenComm>(2009),
    LeafOf<ENoTimers, EOpenComm>(2010),
    LeafOf<ENoPortSelected, EOpenComm>(2011),
    LeafOf<ENotOpenedByTapi, EOpenComm>(2012),
    LeafOf<ENullApi, ESerialIO>(3001),
    LeafOf<ERegisterHandlerFailed, ESerialIO>(3003),
    LeafOf<EPutBlockFail, ESerialIO>(3004),
    LeafOf<EGetBlockFail, ESerialIO>(3005),
    LeafOf<EOutputBufferTooSmall, ESerialIO>(3006),
    LeafOf<EBufferIsEmpty, ESerialIO>(3007),
    LeafOf<ETracingNotEnabled, ESerialIO>(3008),
    LeafOf<ELoggingNotEnabled, ESerialIO>(3009),
    LeafOf<EBaseAddressNotSet, ESerialIO>(3010),
    LeafOf<EModemNotStarted, EModem>(4001),
    LeafOf<EModemBusy, EModem>(4002),
    LeafOf<EModemNotDialing, EModem>(4003),
    LeafOf<ENotDialing, EModem>(4004),
    LeafOf<EAlreadyDialing, EModem>(4005),
    LeafOf<EModemNotResponding, EModem>(4006),
    LeafOf<EModemRejectedCommand, EModem>(4007),
    LeafOf<EModemStatusMismatch, EModem>(4008),
    LeafOf<ETriggerTooLong, ETrigger>(5002),
    LeafOf<EBadTriggerHandle, ETrigger>(5003),
    LeafOf<EProtocol, EProtocol>(6006),
    LeafOf<EProtocol, EProtocol>(6008),
    LeafOf<EProtocol, EProtocol>(6009),
    LeafOf<EKeyTooLong, EINI>(7001),
    LeafOf<EDataTooLarge, EINI>(7002),
    LeafOf<EInternal, EGeneral>(7003),
    LeafOf<EIniWrite, EINI>(7004),
    LeafOf<EIniRead, EINI>(7005),
    LeafOf<EInternal, EGeneral>(7006),
    LeafOf<ERecordExists, EINI>(7007),
    LeafOf<ERecordNotFound, EINI>(7008),
    LeafOf<EDatabaseFull, EINI>(7010),
    LeafOf<EDatabaseEmpty, EINI>(7011),
    LeafOf<EInternal, EGeneral>(7012),
    LeafOf<EBadFieldList, EINI>(7013),
    LeafOf<EBadFieldForIndex, EINI>(7014),
    LeafOf<EFaxBadFormat, EFax>(8001),
    LeafOf<EBadGraphicsFormat, EFax>(8002),
    LeafOf<EConvertAbort, EFax>(8003),
    LeafOf<EUnpackAbort, EFax>(8004),
    LeafOf<ECantMakeBitmap, EFax>(8005),
    LeafOf<EInvalidPageNumber, EFax>(8053),
    LeafOf<EFaxBadMachine, EFax>(8060),
    LeafOf<EFaxBadModemResult, EFax>(8061),
    LeafOf<EFaxTrainError, EFax>(8062),
    LeafOf<EFaxInitError, EFax>(8063),
    LeafOf<EFaxBusy, EFax>(8064),
    LeafOf<EFaxVoiceCall, EFax>(8065),
    LeafOf<EFaxDataCall, EFax>(8066),
    LeafOf<EFaxNoDialTone, EFax>(8067),
    LeafOf<EFaxNoCarrier, EFax>(8068),
    LeafOf<EFaxSessionError, EFax>(8069),
    LeafOf<EFaxPageError, EFax>(8070),
    LeafOf<ETapiAllocated, ETapi>(13801),
    LeafOf<ETapiBadDeviceID, ETapi>(13802),
    LeafOf<ETapiBearerModeUnavail, ETapi>(13803),
    LeafOf<ETapiCallUnavail, ETapi>(13805),
    LeafOf<ETapiCompletionOverrun, ETapi>(13806),
    LeafOf<ETapiConferenceFull, ETapi>(13807),
    LeafOf<ETapiDialBilling, ETapi>(13808),
    LeafOf<ETapiDialDialtone, ETapi>(13809),
    LeafOf<ETapiDialPrompt, ETapi>(13810),
    LeafOf<ETapiDialQuiet, ETapi>(13811),
    LeafOf<ETapiIncompatibleApiVersion, ETapi>(13812),
    LeafOf<ETapiIncompatibleExtVersion, ETapi>(13813),
    LeafOf<ETapiIniFileCorrupt, ETapi>(13814),
    LeafOf<ETapiInUse, ETapi>(13815),
    LeafOf<ETapiInvalAddress, ETapi>(13816),
    LeafOf<ETapiInvalAddressID, ETapi>(13817),
    LeafOf<ETapiInvalAddressMode, ETapi>(13818),
    LeafOf<ETapiInvalAddressState, ETapi>(13819),
    LeafOf<ETapiInvalAppHandle, ETapi>(13820),
    LeafOf<ETapiInvalAppName, ETapi>(13821),
    LeafOf<ETapiInvalBearerMode, ETapi>(13822),
    LeafOf<ETapiInvalCallComplMode, ETapi>(13823),
    LeafOf<ETapiInvalCallHandle, ETapi>(13824),
    LeafOf<ETapiInvalCallParams, ETapi>(13825),
    LeafOf<ETapiInvalCallPrivilege, ETapi>(13826),
    LeafOf<ETapiInvalCallSelect, ETapi>(13827),
    LeafOf<ETapiInvalCallState, ETapi>(13828),
    LeafOf<ETapiInvalCallStatelist, ETapi>(13829),
    LeafOf<ETapiInvalCard, ETapi>(13830),
    LeafOf<ETapiInvalCompletionID, ETapi>(13831),
    LeafOf<ETapiInvalConfCallHandle, ETapi>(13832),
    LeafOf<ETapiInvalConsultCallHandle, ETapi>(13833),
    LeafOf<ETapiInvalCountryCode, ETapi>(13834),
    LeafOf<ETapiInvalDeviceClass, ETapi>(13835),
    LeafOf<ETapiInvalDeviceHandle, ETapi>(13836),
    LeafOf<ETapiInvalDialParams, ETapi>(13837),
    LeafOf<ETapiInvalDigitList, ETapi>(13838),
    LeafOf<ETapiInvalDigitMode, ETapi>(13839),
    LeafOf<ETapiInvalDigits, ETapi>(13840),
    LeafOf<ETapiInvalExtVersion, ETapi>(13841),
    LeafOf<ETapiInvalGroupID, ETapi>(13842),
    LeafOf<ETapiInvalLineHandle, ETapi>(13843),
    LeafOf<ETapiInvalLineState, ETapi>(13844),
    LeafOf<ETapiInvalLocation, ETapi>(13845),
    LeafOf<ETapiInvalMediaList, ETapi>(13846),
    LeafOf<ETapiInvalMediaMode, ETapi>(13847),
    LeafOf<ETapiInvalMessageID, ETapi>(13848),
    LeafOf<ETapiInvalParam, ETapi>(13850),
    LeafOf<ETapiInvalParkID, ETapi>(13851),
    LeafOf<ETapiInvalParkMode, ETapi>(13852),
    LeafOf<ETapiInvalPointer, ETapi>(13853),
    LeafOf<ETapiInvalPrivSelect, ETapi>(13854),
    LeafOf<ETapiInvalRate, ETapi>(13855),
    LeafOf<ETapiInvalRequestMode, ETapi>(13856),
    LeafOf<ETapiInvalTerminalID, ETapi>(13857),
    LeafOf<ETapiInvalTerminalMode, ETapi>(13858),
    LeafOf<ETapiInvalTimeout, ETapi>(13859),
    LeafOf<ETapiInvalTone, ETapi>(13860),
    LeafOf<ETapiInvalToneList, ETapi>(13861),
    LeafOf<ETapiInvalToneMode, ETapi>(13862),
    LeafOf<ETapiInvalTransferMode, ETapi>(13863),
    LeafOf<ETapiLineMapperFailed, ETapi>(13864),
    LeafOf<ETapiNoConference, ETapi>(13865),
    LeafOf<ETapiNoDevice, ETapi>(13866),
    LeafOf<ETapiNoDriver, ETapi>(13867),
    LeafOf<ETapiNoMem, ETapi>(13868),
    LeafOf<ETapiNoRequest, ETapi>(13869),
    LeafOf<ETapiNotOwner, ETapi>(13870),
    LeafOf<ETapiNotRegistered, ETapi>(13871),
    LeafOf<ETapiOperationFailed, ETapi>(13872),
    LeafOf<ETapiOperationUnavail, ETapi>(13873),
    LeafOf<ETapiRateUnavail, ETapi>(13874),
    LeafOf<ETapiResourceUnavail, ETapi>(13875),
    LeafOf<ETapiRequestOverrun, ETapi>(13876),
    LeafOf<ETapiStructureTooSmall, ETapi>(13877),
    LeafOf<ETapiTargetNotFound, ETapi>(13878),
    LeafOf<ETapiTargetSelf, ETapi>(13879),
    LeafOf<ETapiUninitialized, ETapi>(13880),
    LeafOf<ETapiUserUserInfoTooBig, ETapi>(13881),
    LeafOf<ETapiReinit, ETapi>(13882),
    LeafOf<ETapiAddressBlocked, ETapi>(13883),
    LeafOf<ETapiBillingRejected, ETapi>(13884),
    LeafOf<ETapiInvalFeature, ETapi>(13885),
    LeafOf<ETapiNoMultipleInstance, ETapi>(13886),
    LeafOf<ETapiBusy, ETapi>(13928),
    LeafOf<ETapiNotSet, ETapi>(13929),
    LeafOf<ETapiNoSelect, ETapi>(13930),
    LeafOf<ETapiLoadFail, ETapi>(13931),
    LeafOf<ETapiGetAddrFail, ETapi>(13932),
    LeafOf<ETapi16Disabled, ETapi>(13933),
    LeafOf<ETapiVoiceNotSupported, ETapi>(13935),
    LeafOf<ETapiWaveFail, ETapi>(13936),
    LeafOf<ETapiTranslateFail, ETapi>(13942),
    LeafOf<ERasLoadFail, ERas>(13980),
  };
  return cases;
}

TEST(RaiseForCode, EveryCodeWithAClassRaisesThatClass) {
  ASSERT_EQ(LeafCases().size(), 166u);
  for (const LeafCase& c : LeafCases()) {
    SCOPED_TRACE(c.magnitude);
    try {
      RaiseForCode(nullptr, -c.magnitude);
      ADD_FAILURE() << "nothing raised";
    } catch (const EQsException& e) {
      EXPECT_EQ(typeid(e), *c.leaf) << typeid(e).name();
      EXPECT_TRUE(c.isOfFamily(e));
      EXPECT_EQ(e.Code(), -c.magnitude);
      EXPECT_EQ(e.Message(), MessageForCode(c.magnitude));
    }
  }
}

TEST(RaiseForCode, TapiClassesFollowTheirCodesInOrder) {
  // Spot checks around the two gaps of the telephony range.
  struct Case {
    int magnitude;
    const std::type_info& type;
  };
  const Case cases[] = {{13803, typeid(ETapiBearerModeUnavail)}, {13805, typeid(ETapiCallUnavail)},
                        {13806, typeid(ETapiCompletionOverrun)}, {13848, typeid(ETapiInvalMessageID)},
                        {13850, typeid(ETapiInvalParam)},        {13886, typeid(ETapiNoMultipleInstance)},
                        {13942, typeid(ETapiTranslateFail)}};
  for (const Case& c : cases) {
    try {
      RaiseForCode(nullptr, -c.magnitude);
      ADD_FAILURE() << "nothing raised for " << c.magnitude;
    } catch (const EQsException& e) {
      EXPECT_EQ(typeid(e), c.type) << c.magnitude;
    }
  }
}

TEST(RaiseForCode, CodesWithoutAClass) {
  struct Case {
    int code;
    const char* message;  // nullptr: the system's text of the magnitude
    int ioError;          // 0: EQsException "Qs exception" with Code 0
  };
  const Case cases[] = {
      {-2, "File not found", 2},
      {-100, "Attempt to read beyond end of file", 100},
      {-162, "General failure", 162},
      {-7, nullptr, 7},
      {-1, "Qs exception", 0},
      {-163, "Qs exception", 0},
      {-1001, "Qs exception", 0},
      {-3002, "Qs exception", 0},
      {-5001, "Qs exception", 0},
      {-5501, "Qs exception", 0},
      {-9004, "Qs exception", 0},
      {-10061, "Qs exception", 0},
      {-15742, "Qs exception", 0},
      {INT_MIN, "Qs exception", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    const std::string message = c.message != nullptr ? c.message : strerrordesc_np(c.ioError);
    try {
      RaiseForCode(nullptr, c.code);
      ADD_FAILURE() << "nothing raised";
    } catch (const platform::EInOutError& e) {
      EXPECT_NE(c.ioError, 0);
      EXPECT_EQ(e.ErrorCode(), c.ioError);
      EXPECT_EQ(e.Message(), message);
    } catch (const EQsException& e) {
      EXPECT_EQ(c.ioError, 0);
      EXPECT_EQ(typeid(e), typeid(EQsException));
      EXPECT_EQ(e.Code(), 0);
      EXPECT_EQ(e.Message(), message);
    }
  }
}

TEST(RaiseForCode, MinusEightIsOutOfMemory) {
  EXPECT_THROW(RaiseForCode(nullptr, -8), platform::EOutOfMemory);
}

TEST(RaiseForCode, NonErrorsAndComponentsBeingLoadedGetTheirCodeBack) {
  for (int code : {0, 1, 5, 4096, INT_MAX}) EXPECT_EQ(RaiseForCode(nullptr, code), code);
  TQsBaseComponent component(nullptr);
  component.BeginLoading();
  EXPECT_EQ(RaiseForCode(&component, -3007), -3007);
  EXPECT_EQ(RaiseForCode(&component, -8), -8);
  component.Loaded();
  EXPECT_THROW(RaiseForCode(&component, -3007), EBufferIsEmpty);
}

TEST(MessageForCode, UsesTheSixteenBitMagnitude) {
  struct Case {
    int code;
    std::string message;
  };
  const Case cases[] = {
      {0, "OK"},
      {-3007, "Buffer is empty"},
      {3007, "Buffer is empty"},
      {15742, "Character Set"},
      {-15742, "Character Set"},
      {65536 + 2, "File not found"},      // 16-bit value 2
      {-65536 - 2, "File not found"},     // 16-bit value -2
      {0x10000 | 10061, "The attempt to connect was forcibly refused"},
      {7, strerrordesc_np(7)},            // not in the table: the system's text
      {-32768, ""},                       // neither the table nor the system knows 32768
      {4242, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageForCode(c.code), c.message) << c.code;
}

// The serial layer's system errors are Windows numbers: their texts are the system's texts for
// those numbers, not the C library's texts for the errno values that share them (87: EUSERS).
TEST(MessageForCode, SerialSystemErrorsReadAsTheSerialLayerMeansThem) {
  struct Case {
    int code;
    const char* message;
  };
  const Case cases[] = {
      {-platform::kSysErrInvalidParameter, "The parameter is incorrect."},
      {-platform::kSysErrGenFailure, "A device attached to the system is not functioning."},
      {-platform::kSysErrInvalidFunction, "Incorrect function."},
      {-platform::kSysErrIoDevice, "The request could not be performed because of an I/O device error."},
      {-platform::kSysErrInvalidHandle, "Invalid file handle"},  // the table's own text comes first
      {-platform::kSysErrAccessDenied, "File access denied"},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageForCode(c.code), c.message) << c.code;
  try {
    RaiseForCode(nullptr, -platform::kSysErrInvalidParameter);
    ADD_FAILURE() << "nothing raised";
  } catch (const platform::EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), platform::kSysErrInvalidParameter);
    EXPECT_EQ(e.Message(), "The parameter is incorrect.");
  }
}

// A file's failure is an errno value: it reads as the C library's text for it, even where the
// message table or the serial layer has a text of its own for the same number.
TEST(RaiseForFileError, ReadsAsTheErrnoText) {
  for (int error : {EPERM, ENOENT, EINTR, EIO, ENXIO, ENOMEM, EMLINK, EUSERS}) {
    try {
      RaiseForFileError(nullptr, -error);
      ADD_FAILURE() << "nothing raised for " << error;
    } catch (const platform::EInOutError& e) {
      EXPECT_EQ(e.ErrorCode(), error);
      EXPECT_EQ(e.Message(), strerrordesc_np(error)) << error;
    }
  }
  EXPECT_EQ(RaiseForFileError(nullptr, 0), 0);
}

TEST(MessageForCode, SystemTextsHaveNoControlCharactersOrDoubleBlanks) {
  for (int number = 1; number < 200; ++number) {
    if (!ErrorTexts().TextById(number).empty()) continue;
    const std::string text = MessageForCode(number);
    EXPECT_LE(text.size(), 255u);
    EXPECT_EQ(text.find("  "), std::string::npos) << number;
    EXPECT_TRUE(std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }))
        << number;
  }
}

TEST(EQsException, FromCodeOrFromMessage) {
  const EQsException fromCode(-3004);
  EXPECT_EQ(fromCode.Code(), -3004);
  EXPECT_EQ(fromCode.Message(), "Failed to put entire block");
  const EQsException positive(3004);
  EXPECT_EQ(positive.Code(), 3004);
  EXPECT_EQ(positive.Message(), "Failed to put entire block");
  const EQsException fromMessage(std::string("custom text"));
  EXPECT_EQ(fromMessage.Code(), 0);
  EXPECT_STREQ(fromMessage.what(), "custom text");
  const EInvalidProperty packet(-5501);
  EXPECT_EQ(packet.Message(), "Start string is empty");
  EXPECT_EQ(packet.Code(), -5501);
}

TEST(EQsSocketException, NormalAndNotInitialisedForms) {
  static_assert(!std::is_base_of_v<EQsException, EQsSocketException>);
  const EQsSocketException refused(10061);
  EXPECT_EQ(refused.Code(), 10061);
  EXPECT_EQ(refused.Message(), "The attempt to connect was forcibly refused");
  const EQsSocketException notInitialized = EQsSocketException::NotInitialized(10091);
  EXPECT_EQ(notInitialized.Code(), 10091);
  EXPECT_EQ(notInitialized.Message(), "Winsock not initialized - Network subsystem unusable");
  EXPECT_EQ(EQsSocketException(-9007).Message(), "Cannot resolve destination address");
}

TEST(TQsBaseComponent, VersionReadsFixedAndIgnoresAssignment) {
  TQsBaseComponent component(nullptr);
  EXPECT_EQ(component.GetProperty("Version").AsString(), "v3.04");
  component.SetProperty("version", platform::Variant("v9.99"));
  EXPECT_EQ(component.GetProperty("Version").AsString(), "v3.04");
  EXPECT_EQ(component.ClassName(), "TQsBaseComponent");
  // The platform's own properties remain reachable.
  component.SetProperty("Name", platform::Variant("Port1"));
  EXPECT_EQ(component.Name(), "Port1");
}

}  // namespace
