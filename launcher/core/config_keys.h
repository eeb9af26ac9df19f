#pragma once

#include <cstdint>

// Every configuration key, named once. The comment gives the value form and the map:
// keys below 20001 live in the narrow map, keys from 20001 on in the wide map and are the
// only ones a language block can localize.
namespace key {

// General and runtime settings.
constexpr int32_t kApplicationName = 101;        // text: splash title, default service name
constexpr int32_t kParameter3Enabled = 102;      // flag: launcher parameter 3 carries key 103
constexpr int32_t kParameter3Path = 103;         // wtext, expanded path
constexpr int32_t kParameter4Enabled = 104;      // flag: launcher parameter 4 carries key 105
constexpr int32_t kParameter4Path = 105;         // wtext, expanded path
constexpr int32_t kParameter5 = 106;             // flag: launcher parameter 5 "true"/"false"
constexpr int32_t kApplicationType = 107;        // int: 1 GUI, 5 message boxes, else console
constexpr int32_t kSplashScreen = 108;           // flag
constexpr int32_t kClassPath = 121;              // list (";")
constexpr int32_t kParameter2 = 122;             // wtext, passed unchanged
constexpr int32_t kJvmOptions = 123;             // wtext, expanded and split
constexpr int32_t kFixedArguments = 124;         // wtext, read into 2000 code units
constexpr int32_t kJOptionsAreJvmOptions = 125;  // flag: "-J" arguments are JVM options
constexpr int32_t kMinJavaVersion = 126;         // text
constexpr int32_t kMaxJavaVersion = 127;         // text
constexpr int32_t kSearchSequence = 128;         // list (";")
constexpr int32_t kAllowPrerelease = 130;        // flag
constexpr int32_t kRequireJdk = 131;             // flag
constexpr int32_t kSplashWidth = 141;            // int
constexpr int32_t kSplashHeight = 142;           // int
constexpr int32_t kSplashAutoHide = 145;         // flag
constexpr int32_t kWorkingDirectory = 146;       // wtext, expanded full path
constexpr int32_t kSplashOnTop = 147;            // flag
constexpr int32_t kServiceDependencies = 149;    // list (",")
constexpr int32_t kDownloadLocation = 150;       // wtext
constexpr int32_t kUnpackProgressSize = 151;     // int
constexpr int32_t kPreferredJvmType = 152;       // text, read into 200 characters
constexpr int32_t kPack200Jars = 153;            // flag
constexpr int32_t kConsoleSwitches = 154;        // flag: "-q", "-c" and "-console"
constexpr int32_t kInstallerNoProgress = 155;    // flag
constexpr int32_t kConsoleSwitchOnly = 156;      // flag: "-console"
constexpr int32_t kDownloadWithoutAsking = 157;  // flag
constexpr int32_t kGlobalSemaphore = 158;        // flag
constexpr int32_t kNoStartTimeout = 159;         // flag
constexpr int32_t kInstallationId = 160;         // text
constexpr int32_t kPreferInstalledRuntime = 161; // flag
constexpr int32_t kDownloadSha256 = 162;         // text: 64 hex digits, empty = not pinned

// Error messages of the launcher core (message form; 1000 is the caption).
constexpr int32_t kMessageCaption = 1000;
constexpr int32_t kMessageStartFailed = 1005;
constexpr int32_t kMessageClassPathEntryMissing = 1006;
constexpr int32_t kMessageClassPathVariableMissing = 1008;
constexpr int32_t kMessageInternalError = 1009;
constexpr int32_t kMessageLauncherClassMissing = 1010;
constexpr int32_t kMessageMainMethodMissing = 1011;
constexpr int32_t kMessageNoTempDirectory = 1015;
constexpr int32_t kMessageNoRuntime = 1016;
constexpr int32_t kMessageJvmLoadFailed = 1018;
constexpr int32_t kMessageJvmLoadFailedAlt = 1020;

// Launcher flavor and included files.
constexpr int32_t kFlavor = 2001;                // text: first character "q" or "t"
constexpr int32_t kIncludedFileCount = 2002;     // int
constexpr int32_t kIncludedFileNames = 2003;     // list (";")

// Installation, single-instance and splash settings.
constexpr int32_t kInstallationDirectory = 10003;  // text
constexpr int32_t kNativeLibraryDirectories = 10004; // list (";"), expanded
constexpr int32_t kSingleInstance = 10005;         // flag
constexpr int32_t kSplashText1X = 10109;           // int
constexpr int32_t kSplashText1Y = 10110;           // int
constexpr int32_t kSplashText1 = 10111;            // text
constexpr int32_t kSplashText1Font = 10112;        // text, at most 31 characters
constexpr int32_t kSplashText1Size = 10113;        // int, points
constexpr int32_t kSplashText1Color = 10114;       // colour
constexpr int32_t kSplashText1Weight = 10115;      // int
constexpr int32_t kSplashText2X = 10116;           // int
constexpr int32_t kSplashText2Y = 10117;           // int
constexpr int32_t kSplashText2 = 10118;            // text
constexpr int32_t kSplashText2Font = 10119;        // text, at most 31 characters
constexpr int32_t kSplashText2Size = 10120;        // int, points
constexpr int32_t kSplashText2Color = 10121;       // colour
constexpr int32_t kSplashText2Weight = 10122;      // int
constexpr int32_t kRuntimeSplashLibrary = 10123;   // flag

// Supervision of the service's child (service launcher only).
constexpr int32_t kServiceStopTimeout = 11001;      // int, seconds; empty = 30
constexpr int32_t kServiceRestart = 11002;          // flag; empty = on
constexpr int32_t kServiceRestartDelays = 11003;    // list (","), seconds
constexpr int32_t kServiceRestartResetAfter = 11004; // int, seconds
constexpr int32_t kServiceRestartLimit = 11005;     // int
constexpr int32_t kServiceLogDirectory = 11006;     // text, expanded; empty = "logs" beside the exe
constexpr int32_t kServiceLogMaxSize = 11007;       // int, bytes
constexpr int32_t kServiceLogKeep = 11008;          // int
constexpr int32_t kServiceAccount = 11009;          // text
constexpr int32_t kServiceInteractive = 11010;      // flag; empty = the command line decides
constexpr int32_t kServiceStartType = 11011;        // text: "demand", "auto" or "delayed"
constexpr int32_t kServicePreshutdownTimeout = 11012; // int, seconds
constexpr int32_t kServiceEnvironment = 11013;      // lines "NAME=VALUE", values expanded

// Start-up cache.
constexpr int32_t kStartupCache = 11101;           // flag; absent means on

// Localized texts of the installer and service launchers (wide map, localized form).
constexpr int32_t kTextDownloading = 20001;
constexpr int32_t kTextDownloadStartFailed = 20002;
constexpr int32_t kTextDownloadFailed = 20003;
constexpr int32_t kTextPickJavaTitle = 20004;
constexpr int32_t kTextNoRuntimeWithDownload = 20005;
constexpr int32_t kTextNoRuntimeWithoutDownload = 20006;
constexpr int32_t kTextProgressLabel = 20007;
constexpr int32_t kTextDownloadProgress = 20008;
constexpr int32_t kTextConnecting = 20009;
constexpr int32_t kTextDownloadButton = 20010;
constexpr int32_t kTextPickJavaButton = 20011;
constexpr int32_t kTextCancelButton = 20012;
constexpr int32_t kTextInstallerCaption = 20013;
constexpr int32_t kTextStartTimeout = 20014;
constexpr int32_t kTextDataDamaged = 20016;
constexpr int32_t kTextServiceDescription = 20017;
constexpr int32_t kTextWriteFailed = 20018;
constexpr int32_t kTextMinimumVersionLabel = 20019;
constexpr int32_t kTextMaximumVersionLabel = 20020;

} // namespace key
