#include "frame/Module.h"

namespace frame {

Module& TheModule() {
  static Module module;
  return module;
}

}  // namespace frame
