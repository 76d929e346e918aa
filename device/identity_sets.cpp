// The two identifier sets of the device family. Members compare whole, byte for byte and
// case-sensitively; only trailing blanks (which some devices pad their fields with) are ignored.
#include <cstring>

#include "device/device_manager.h"

namespace {

const char* const kModelSet[] = {"TAVRO211", "TAVRO318", "TAVRO214", "MELKA",    "QZ",
                                 "NOVRA",    "J5W",      "NOVRA41",  "NOVRA72",  "PELI9",
                                 "NOVRA25",  "GIRRO211", "Sandr318", "GIRRO214", "J5",
                                 "WV",       "KBD",      "MELKA25"};

const char* const kVendorSet[] = {"GIRRO211", "Sandr318", "GIRRO214", "TAVRO211", "TAVRO318",
                                  "TAVRO214", "Marrowba", "t3harbor", "Hoptrel",  "Vantrisk",
                                  "KU-P",     "KU-T",     "NOVRA",    "MELKA",    "NOVRA41",
                                  "NOVRA72",  "NOVRA25",  "MELKA25"};

static_assert(sizeof kModelSet / sizeof kModelSet[0] == 18, "model set size");
static_assert(sizeof kVendorSet / sizeof kVendorSet[0] == 18, "vendor set size");

template <size_t N>
bool Contains(const char* const (&set)[N], const char* identifier) {
  if (identifier == nullptr) return false;
  // Identifiers live in 64-byte fields; never look further.
  size_t length = strnlen(identifier, 64);
  while (length > 0 && identifier[length - 1] == ' ') --length;
  if (length == 0) return false;
  for (const char* member : set) {
    if (std::strlen(member) == length && std::memcmp(member, identifier, length) == 0) return true;
  }
  return false;
}

}  // namespace

int ClassifyModelId(const char* identifier) { return Contains(kModelSet, identifier) ? kModelInSet : kModelNotInSet; }

int IsKnownVendorId(const char* identifier) { return Contains(kVendorSet, identifier) ? kVendorKnown : kVendorUnknown; }
