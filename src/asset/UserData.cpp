// UserData: the out-of-line destructor anchors the class's virtual table in the library.
#include "vendrithane/UserData.h"

namespace KESTRIN {
namespace Vendrithane {

UserData::~UserData() {}

}  // namespace Vendrithane
}  // namespace KESTRIN
