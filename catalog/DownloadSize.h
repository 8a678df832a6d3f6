// Download sizes: the one shown beside a component, the one of a whole
// selection, and their text. Each download (a cabinet, `sFile`) counts once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "catalog/Component.h"

// "0KB", "<1KB" below 1024 bytes, else whole kilobytes with a comma before the
// last three digits from 1,024KB on.
std::string FormatDownloadSize(uint32_t bytes);

#ifdef _WIN32
// One component's downloads: with `all` every file and hook, else the files
// that NeedsUpdate and the hooks that still have to run. Platforms are not
// consulted. 32-bit, wrapping.
uint32_t ComponentDownloadSize(const Component& component, bool all);

// A selection's downloads, a download shared by several components counted
// once: components and hooks of other platforms are left out, and hooks that
// already ran at their version count nothing even with `all`.
uint32_t SelectionDownloadSize(const std::vector<Component>& components, bool all);
#endif
