// Codecs of a separately shipped engine codec module (Debian's RAR codecs, say), offered to the
// engine as external codecs.

#ifndef ZORVIK_LIB7Z_CODEC_PLUGIN_H
#define ZORVIK_LIB7Z_CODEC_PLUGIN_H

#include <memory>

#include "Common/Common.h"
#include "Common/MyCom.h"
#include "7zip/ICoder.h"

Z7_CLASS_IMP_COM_1(CCodecPlugin, ICompressCodecsInfo)
public:
// Null when the module is missing, is not a codec module or was built with another COM ABI.
static CMyComPtr<ICompressCodecsInfo> Open(const char *path);

private:
struct LibraryCloser
{
  void operator()(void *library) const noexcept;
};
using Library = std::unique_ptr<void, LibraryCloser>;

CCodecPlugin(Library library, Func_GetNumberOfMethods getNumberOfMethods,
             Func_GetMethodProperty getMethodProperty, Func_CreateDecoder createDecoder,
             Func_CreateEncoder createEncoder);

Library _library;
Func_GetNumberOfMethods _getNumberOfMethods;
Func_GetMethodProperty _getMethodProperty;
Func_CreateDecoder _createDecoder;
Func_CreateEncoder _createEncoder;
}
;

#endif
