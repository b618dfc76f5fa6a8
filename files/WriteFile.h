// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace files {

// Writes `bytes` to `path`. A regular file (or none) is replaced through a
// temporary file beside it and a rename: it gets every byte or is left as it
// was, keeping its mode (and owner where the caller may give it). A link
// keeps pointing where it did and what it names is written; a device or FIFO
// is written into; a directory is an error. False, with "cannot write PATH:
// REASON" in `error`, when it cannot.
// `temporary` hears the temporary file's name while it exists (and an empty
// one once it is gone), for whoever must remove it if the process ends.
bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes, std::string& error,
               const std::function<void(const std::string&)>& temporary = {});

}  // namespace files
