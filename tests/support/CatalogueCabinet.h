// Catalogues and cabinets for runs of the real program: a "PM Install1.INF"
// written from a few component records, packed into the catalogue cabinet,
// and the component cabinets the catalogue names.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct CatalogueFile {
  std::string name;     // file name at the destination (and its section)
  std::string cabinet;  // the download holding it, relative to the catalogue URL
  std::string version = "1,0,0,0";
  std::string package = {};  // "Package": a program in the cabinet, run once it is fetched
};

struct CatalogueComponent {
  std::string name;
  int id = 0;  // 0: written without the "n;" part
  std::string version = "1,0,0,0";
  bool forceInstall = false;
  bool initiallySelected = true;
  bool requiresPMClosed = false;
  std::string image;  // "Image" value; empty: none
  std::vector<std::string> addRegistry;  // "Add Registry<n>" lines
  std::vector<CatalogueFile> files;
};

// A component by name with these files, everything else as the defaults say.
CatalogueComponent ComponentWith(const std::string& name, std::vector<CatalogueFile> files);

// The catalogue text.
std::string CatalogueText(const std::vector<CatalogueComponent>& components);
// A catalogue written line by line, with the CR LF line ends the reader needs.
std::string InfText(const std::vector<std::string>& lines);

using CabinetMembers = std::vector<std::pair<std::string, std::string>>;
// An uncompressed cabinet of the members, as bytes in a string.
std::string CabinetBytes(const CabinetMembers& members);
// The catalogue cabinet: "PM Install1.INF" followed by any other members.
std::string CatalogueCabinet(const std::vector<CatalogueComponent>& components,
                             const CabinetMembers& others = {});

}  // namespace testing_support
