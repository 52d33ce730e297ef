#pragma once
// Windows shell link (".lnk") files, read without the shell: a copied-over
// shortcut leads to the path stored in its link information.

#include <cstddef>
#include <cstdint>
#include <string>

// The target that the bytes of a shell link name: the local base path of its
// link information followed by the common path suffix. 0 with the target, or
// -1 (target empty) when the bytes hold no shell link with a local path.
int ParseShellLink(const uint8_t* data, size_t size, std::string& target);
