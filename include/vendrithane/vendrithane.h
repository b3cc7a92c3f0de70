// Umbrella header: everything a host needs to use the library.
#ifndef VENDRITHANE_VENDRITHANE_H
#define VENDRITHANE_VENDRITHANE_H

#include "vendrithane/Asset.h"
#include "vendrithane/Attribute.h"
#include "vendrithane/Blob.h"
#include "vendrithane/Category.h"
#include "vendrithane/Element.h"
#include "vendrithane/Export.h"
#include "vendrithane/Expression.h"
#include "vendrithane/Filter.h"
#include "vendrithane/Handler.h"
#include "vendrithane/Node.h"
#include "vendrithane/Status.h"
#include "vendrithane/String.h"
#include "vendrithane/Time.h"
#include "vendrithane/Type.h"
#include "vendrithane/UserData.h"

#endif  // VENDRITHANE_VENDRITHANE_H
