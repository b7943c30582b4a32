#include "text/texts.h"

#include "common/strings.h"

const char kCaption[] = "Deinstallationsprogramm";

const char kConfirmationPrefix[] = "Wollen Sie das folgende Programm wirklich entfernen: ";

const char kProductTitle[] =
    "TAV-COM f\xFC"
    "r Windows 95 und NT";

const char kRestartNotice[] =
    "Einige Komponenten werden erst beim n\xE4"
    "chsten Neustart von Windows entfernt. "
    "Wenn Sie sofort eine Reinstallation vornehmen wollen, m\xFC"
    "ssen Sie vorher Windows neu "
    "starten.";

const char kComponentInUseWarning[] =
    "Ein Teilprogramm l\xE4"
    "uft noch. Beenden Sie zuerst alle Teilprogramme und f\xFC"
    "hren Sie "
    "dann erst das Deinstallationsprogramm aus.";

const char kDirectoriesKeyFormat[] = "%s\\%s\\%s%s%s\\Directories";

const char* const kDirectoriesKeyParts[5] = {"Software", "TAV Datentechnik", "TAV-COM", " Version ", "1.0"};

const char kDirectoryValueName[] = "SYSTEM";

bool BuildDirectoriesKeyPath(char* keyPath, size_t capacity) {
  return StrFormat(keyPath, capacity, kDirectoriesKeyFormat, kDirectoriesKeyParts[0], kDirectoriesKeyParts[1],
                   kDirectoriesKeyParts[2], kDirectoriesKeyParts[3], kDirectoriesKeyParts[4]);
}

const char* const kProgramComponents[3] = {"HUBCORE.DLL", "DKUI.EXE", "INSTALL.EXE"};

const char* const kSystemComponents[9] = {"tavab32.dll",  "tavfab32.dll", "tavfax32.dll",
                                          "tavfxt32.dll", "tavmab32.dll", "tavmbx32.dll",
                                          "tavnab32.dll", "tavnet32.dll", "tavxpt32.dll"};

// INSTALL.EXE is no sign: many programs have one.
const char* const kSuiteProgramFiles[7] = {"HUBCORE.DLL",  "DKUI.EXE",     "TAVCC.EXE", "FXPSET.EXE",
                                           "LNKSETUP.EXE", "QBPMNLDR.EXE", "TAVMDM.OCX"};

const FileSweep kFileSweeps[12] = {
    {SweepBase::kRoot, nullptr, "TAVUPD.INF"},   {SweepBase::kProgram, nullptr, "TAVUPD.EXE"},
    {SweepBase::kProgram, "APP", "DLG.XBH"},     {SweepBase::kUser, nullptr, "*.VID"},
    {SweepBase::kUser, nullptr, "XFRLOGS*.TXT"}, {SweepBase::kProgram, nullptr, "XFRLOGS*.TXT"},
    {SweepBase::kUser, nullptr, "SESLOGS*.TXT"}, {SweepBase::kProgram, nullptr, "SESLOGS*.TXT"},
    {SweepBase::kProgram, nullptr, "*.GID"},     {SweepBase::kProgram, nullptr, "*.FTS"},
    {SweepBase::kProgram, "MAIL", "*.*"},        {SweepBase::kProgram, nullptr, "USER.PW"},
};

const char* const kDataDirectories[8] = {"MAIL", "INFO", "SRV", "TMP", "PORT", "WTEL", "FRONTPGS", "NETQUEUE"};
