#pragma once

#include <string_view>

namespace plinth {

// Orders two application versions as the update feed writes them.
//
// A version is read as runs of digits, runs of ASCII letters and separators (. - _ + space):
// - Digit runs compare as numbers of any length (1.10 > 1.9); missing trailing numbers count as
//   0, so 1.0 == 1.0.0.
// - A letter run after the numbers starts a pre-release, which is older than the release with the
//   same numbers: 1.2a1 < 1.2b1 < 1.2rc1 < 1.2 < 1.2.1. The numbers after the word order
//   pre-releases of the same kind, so "1.2-beta.3" == "1.2b3".
// - Pre-release words rank dev < alpha = a < beta = b < pre = rc < any other word < the release;
//   other words order among themselves by their text. Letters compare without regard to case.
// - A further letter run is a pre-release of the pre-release before it (1.2a1dev1 < 1.2a1).
// - Anything else (empty, not starting with a digit, other characters) is not a version: it is
//   older than every version, and two of them order by their text.
//
// Returns <0 when a is older than b, 0 when the same, >0 when newer.
int compareVersions(std::string_view a, std::string_view b);

}  // namespace plinth
