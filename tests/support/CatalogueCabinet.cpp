#include "tests/support/CatalogueCabinet.h"

#include "tests/unit/cab/CabTestSupport.h"

namespace testing_support {

std::string CatalogueText(const std::vector<CatalogueComponent>& components) {
  std::string text = "[Components]\r\n";
  for (const CatalogueComponent& c : components)
    text += c.name + "=" + (c.id ? std::to_string(c.id) + ";" : "") + c.version + "\r\n";
  for (const CatalogueComponent& c : components) {
    text += "\r\n[" + c.name + "]\r\n";
    text += std::string("ForceInstall=") + (c.forceInstall ? "Yes" : "No") + "\r\n";
    text += std::string("Initially Selected=") + (c.initiallySelected ? "Yes" : "No") + "\r\n";
    text += std::string("RequiresPMClosed=") + (c.requiresPMClosed ? "Yes" : "No") + "\r\n";
    if (!c.image.empty()) text += "Image=" + c.image + "\r\n";
    for (size_t i = 0; i < c.addRegistry.size(); ++i)
      text += "Add Registry" + std::to_string(i) + "=" + c.addRegistry[i] + "\r\n";
    if (c.files.empty()) continue;
    text += "SourceDisksFiles=" + c.name + " Files\r\n\r\n[" + c.name + " Files]\r\n";
    for (size_t i = 0; i < c.files.size(); ++i)
      text += std::to_string(i + 1) + "=" + c.files[i].name + "\r\n";
    for (const CatalogueFile& f : c.files)
      text += "\r\n[" + f.name + "]\r\nFile=" + f.cabinet + "\r\nFileVersion=" + f.version +
              "\r\nSize=1KB\r\n" + (f.package.empty() ? "" : "Package=" + f.package + "\r\n");
  }
  return text;
}

std::string InfText(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::string CabinetBytes(const CabinetMembers& members) {
  const cabtest::Bytes bytes = cabtest::StoredCabinet(members);
  return std::string(bytes.begin(), bytes.end());
}

std::string CatalogueCabinet(const std::vector<CatalogueComponent>& components,
                             const CabinetMembers& others) {
  CabinetMembers members = {{"PM Install1.INF", CatalogueText(components)}};
  members.insert(members.end(), others.begin(), others.end());
  return CabinetBytes(members);
}

CatalogueComponent ComponentWith(const std::string& name, std::vector<CatalogueFile> files) {
  CatalogueComponent component;
  component.name = name;
  component.files = std::move(files);
  return component;
}

}  // namespace testing_support
