// The C++ projection of the archive component: the one header a program includes. Values that
// hold a reference, members that return values and throw zorvik::Error, Operation<T> for what
// runs asynchronously, enums for every answer. The ABI (namespace Zorvik) stays beneath it.
#pragma once

// implements<> defines IInspectable's members for every class and marks them override only
// where the class has an IInspectable interface, which clang would warn about in every program.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Winconsistent-missing-override"
#endif

#include "zorvik/projection/Addable.h"
#include "zorvik/projection/Archive.h"
#include "zorvik/projection/Async.h"
#include "zorvik/projection/Callbacks.h"
#include "zorvik/projection/Error.h"
#include "zorvik/projection/Formats.h"
#include "zorvik/projection/Hooks.h"
#include "zorvik/projection/Items.h"
#include "zorvik/projection/Options.h"
#include "zorvik/projection/Streams.h"

#if defined(__clang__)
#pragma clang diagnostic pop
#endif
