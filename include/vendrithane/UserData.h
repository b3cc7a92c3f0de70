// UserData: the host's own payload hung on an asset. The host derives from it; the asset
// calls dispose() when it lets go of the payload (replaced, or the asset destroyed).
#ifndef VENDRITHANE_USERDATA_H
#define VENDRITHANE_USERDATA_H

#include "vendrithane/Export.h"

namespace KESTRIN {
namespace Vendrithane {

class VENDRITHANE_API UserData {
 public:
  UserData() {}
  UserData(const UserData&) {}
  UserData& operator=(const UserData&) { return *this; }
  virtual ~UserData();
  // Called once by the asset that held the payload when it lets go of it; whether the
  // object deletes itself is the host's choice.
  virtual void dispose() = 0;
};

}  // namespace Vendrithane
}  // namespace KESTRIN

#endif  // VENDRITHANE_USERDATA_H
