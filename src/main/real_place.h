// Where a directory really is, whatever spelling leads there: a share of
// this machine's drive, a substituted drive, a link on the way; and the
// holds that keep the directories of a path what they were found to be.
#ifndef PREUNINST_MAIN_REAL_PLACE_H
#define PREUNINST_MAIN_REAL_PLACE_H

#include "common/later_calls.h"
#include "common/platform.h"
#include "files/held.h"

// One directory as Windows knows it. NT opens it and tells its identity;
// Windows 95 opens no directory, so there it is its short form, resolved
// until resolving changes it no more.
struct PlaceIdentity {
  DirectoryIdentity index;
  char shortForm[260];
};

// How well a directory could be told: only a directory that is not there at
// all may be passed over; one that cannot be told otherwise rules out nothing.
enum class Told { kKnown, kAbsent, kUnknown };

Told IdentifyDirectory(const char* path, int isNt, const LaterCalls& calls, PlaceIdentity* identity);

// Whether two places could be one directory (NT: files/held.h).
bool MayBeSamePlace(const PlaceIdentity& left, const PlaceIdentity& right, int isNt);

// The program directory's places, held (NT-family Windows): every
// directory of its path below the root as spelt, then as where it really
// is, from the top down.
struct ProgramPlaces {
  HeldDirectories held;
  int realFrom;    // held.handles[realFrom] is the top of the real path
  char real[260];  // where it really is: a drive path, no link on the way
};

// Holds directory's places (no trailing backslash), so that none can be
// renamed or deleted while the removal uses them; both spellings must end
// in the same directory. A share of one of this machine's drive roots and a
// substituted drive are where they show; a link on the way is followed
// only where Windows can say where it leads (Vista and later) and it leads
// straight there; the directory itself may be no link. False when one of
// them cannot be held or placed; what was held stays in places for the
// caller to let go.
bool HoldPlaces(const char* directory, const LaterCalls& calls, ProgramPlaces* places);

// The drive's root of a path (or its share's root), opened for reading,
// sharing everything: nobody can rename or remove it. INVALID_HANDLE_VALUE
// when it cannot be had.
HANDLE OpenDriveRoot(const char* path);

// Holds each directory of a full path below its root, from the top down;
// no link on the way, none at its end. False when one cannot be held.
bool HoldPathWithoutLinks(const char* directory, const LaterCalls& calls, HeldDirectories* held);

// Windows 95 cannot say what a drive letter or a share shows, but a
// substituted drive and a share report the serial number of the volume
// they lie on: true when directory's drive or share has the serial number
// of another drive of this machine, or its volume cannot be told.
bool OnSharedVolume(const char* directory);

#endif
