// Whether a server's answer to a ranged request continues a cut download, and
// the request's header lines. Plain text work.
#pragma once

#include <string>

#include "transfer/TransferSession.h"

// "Range: bytes=N-" and "If-Range: <validator>", each ending in CR LF; "" when
// the point cannot be resumed (nothing held yet, or no validator a server can
// compare strongly: none, or a weak ETag).
std::string RangeRequestHeaders(const ResumePoint& point);

// A 206 answer continues the download exactly when its Content-Range
// ("bytes FIRST-LAST/TOTAL") starts at the point's offset, its total is the
// first answer's length (where both are known) and its validator is the
// first answer's.
bool ContinuesDownload(const std::string& contentRange, const std::string& validator,
                       const ResumePoint& point);
