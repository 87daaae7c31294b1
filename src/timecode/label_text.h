#ifndef STAMPLINE_TIMECODE_LABEL_TEXT_H_
#define STAMPLINE_TIMECODE_LABEL_TEXT_H_

#include <string>
#include <string_view>

#include "timecode/timecode.h"

namespace stampline {

// Label text "HH:MM:SS:FF", both ways.

// The short option's reading: the low four bits of each digit character
// (two bits for the frame tens). The separators are never read and nothing
// is range-checked, so any 11 characters pack; `text` must hold at least 11.
TimecodeWord packTimecodeText(std::string_view text);

// The strict reading of the long options: two digits a field, hours below
// 24, minutes and seconds below 60, ':' between the fields and ':', ';' or
// '.' before the frames (drop-frame labels are often written with ';').
// The frames are only known to be below 100 here; a rate bounds them
// (framesFit). False for anything else, leaving `fields` as they were.
bool parseLabel(std::string_view text, TimecodeFields& fields);
// Whether the label's frames exist at `nominalFps` labels a second.
inline bool framesFit(const TimecodeFields& fields, uint32_t nominalFps) {
  return fields.frames < nominalFps;
}

// "HH:MM:SS:FF", each digit its nibble's value (a nibble above 9 shows as
// the character after '9'), with ';' before the frames for drop-frame.
std::string formatLabel(TimecodeWord label, bool dropFrame = false);

}  // namespace stampline

#endif  // STAMPLINE_TIMECODE_LABEL_TEXT_H_
