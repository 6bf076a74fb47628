// The place of each DIF block in a DV frame: each DIF sequence is a header, 2 subcode, 3 VAUX
// and 9 times an audio block and 15 video blocks, 150 blocks of 80 bytes.
#pragma once

namespace sim1394 {

struct DifPlace {
  int sequence;
  int type;    // section type: 0 header, 1 subcode, 2 VAUX, 3 audio, 4 video
  int number;  // DIF block number within its section type
};

inline DifPlace DifBlockPlace(int block) {
  const int b = block % 150;
  DifPlace place{block / 150, 4, (b - 6) / 16 * 15 + (b - 6) % 16 - 1};
  if (b == 0)
    place.type = 0, place.number = 0;
  else if (b < 3)
    place.type = 1, place.number = b - 1;
  else if (b < 6)
    place.type = 2, place.number = b - 3;
  else if ((b - 6) % 16 == 0)
    place.type = 3, place.number = (b - 6) / 16;
  return place;
}

}  // namespace sim1394
