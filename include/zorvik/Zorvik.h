// The C++ projection of the archive component: the one header a program includes. Values that
// hold a reference, members that return values and throw zorvik::Error, Operation<T> for what
// runs asynchronously, enums for every answer. The ABI (namespace Zorvik) stays beneath it.
#pragma once

#include "zorvik/projection/Addable.h"
#include "zorvik/projection/Archive.h"
#include "zorvik/projection/Async.h"
#include "zorvik/projection/Callbacks.h"
#include "zorvik/projection/Error.h"
#include "zorvik/projection/Hooks.h"
#include "zorvik/projection/Items.h"
#include "zorvik/projection/Options.h"
#include "zorvik/projection/Streams.h"
