// Cabinets on disk for the native tool: reading a cabinet file, finding the
// next cabinets of a set beside it, and extracting members into a folder.
// Apart from main() so the extraction paths can be tested on their own.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "install/cab/CabDecoder.h"
#include "install/cab/CabError.h"

namespace cabtool {

std::unique_ptr<cab::CabInput> OpenInput(const std::string& path);

// The folder part of `path`, with its trailing slash ("" for none).
std::string DirOf(const std::string& path);

// Finds next cabinets in `folder`, under the (checked) names their headers give.
class ToolCallbacks : public cab::CabCallbacks {
 public:
  explicit ToolCallbacks(std::string folder) : folder_(std::move(folder)) {}
  std::unique_ptr<cab::CabInput> OpenNextCabinet(const cab::CabHeader& current) override;

 private:
  std::string folder_;
};

// Writes the members of the cabinet (and its set) at `path` below `dest`,
// naming each complete member on `listing`. A member that cannot be
// finished (its codec refused, damaged data, a write error, a missing next
// cabinet) is removed again and named on `errors`: no file is left behind
// that looks like a good member. Returns the decoder's error.
cab::CabError ExtractCabinet(const std::string& path, const std::string& dest,
                             std::FILE* listing, std::FILE* errors);

}  // namespace cabtool
