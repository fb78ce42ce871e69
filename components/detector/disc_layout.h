#pragma once
// The kind of a disc, from what the drive and the disc's table of contents
// say and from the layout of the disc's file system.
#include <windows.h>

#include "disc_reader.h"

namespace detector_component {

enum DiscKind : DWORD {
  kAudioCd = 1,
  kVcd10 = 2,
  kVcd11 = 3,
  kVcd20 = 4,
  kSvcd = 5,
  kDvdVideo = 6,
  kDvdVr = 7,
  kData = 8,
  kEmpty = 9,
  kDvdAudio = 10,
};

// A data disc's kind by the folders and files at its root: DVD-VR
// (DVD_RTAV), DVD-Audio (AUDIO_TS with its AUDIO_TS.IFO), DVD-Video
// (VIDEO_TS), SVCD and VCD 1.0, 1.1, 2.0 (by the header of INFO.VCD or
// INFO.SVD), else data. Names are matched without regard to case.
DiscKind DataDiscKind(DiscTree& tree);

// From the drive's status (CDROM_DRIVE_STATUS), the disc's status
// (CDROM_DISC_STATUS) and the disc's tree (null when it has no file system
// that can be read); 0 when they tell nothing.
DWORD DiscKindOf(int drive_status, int disc_status, DiscTree* tree);

}  // namespace detector_component
