// What the library's left-out units (extraction command, file search, console) provided to the
// units we build. Only reading archives through streams is done here: nothing searches the file
// system, writes to a console or runs the library's own extraction command.
#include "rar.hpp"

CmdExtract::CmdExtract(CommandData* cmd) : Analyze(nullptr), Cmd(cmd), Unp(nullptr) {}

CmdExtract::~CmdExtract() = default;

void CmdExtract::DoExtract() { ErrHandler.SetErrorCode(RARX_FATAL); }

// Copies stored data from the decoding context to its destination, as the extraction command does
// for the library's own service data.
void CmdExtract::UnstoreFile(ComprDataIO& dataIO, int64 destUnpSize) {
    Array<byte> buffer(File::CopyBufferSize());
    while (true) {
        const int readSize = dataIO.UnpRead(&buffer[0], buffer.Size());
        if (readSize <= 0) break;
        const int writeSize = readSize < destUnpSize ? readSize : static_cast<int>(destUnpSize);
        if (writeSize > 0) {
            dataIO.UnpWrite(&buffer[0], writeSize);
            destUnpSize -= writeSize;
        }
    }
}

FindFile::FindFile() : FirstCall(true), dirp(nullptr) { FindMask[0] = 0; }

FindFile::~FindFile() = default;

void FindFile::SetMask(const wchar* mask) { wcsncpyz(FindMask, mask, ASIZE(FindMask)); }

bool FindFile::Next(FindData*, bool) { return false; }

bool FindFile::FastFind(const wchar*, FindData*, bool) { return false; }

ScanTree::ScanTree(StringList* fileMasks, RECURSE_MODE recurse, bool getLinks, SCAN_DIRS getDirs)
    : Depth(0),
      SetAllMaskDepth(0),
      FileMasks(fileMasks),
      Recurse(recurse),
      GetLinks(getLinks),
      GetDirs(getDirs),
      Errors(0),
      ScanEntireDisk(false),
      ErrDirList(nullptr),
      ErrDirSpecPathLength(nullptr),
      FolderWildcards(false),
      SearchAllInRoot(false),
      SpecPathLength(0),
      Cmd(nullptr) {
    CurMask[0] = OrigCurMask[0] = ErrArcName[0] = 0;
}

ScanTree::~ScanTree() = default;

SCAN_CODE ScanTree::GetNext(FindData*) { return SCAN_DONE; }

void InitLogOptions(const wchar*, RAR_CHARSET) {}

void OutComment(const wchar*, size_t) {}

void ProhibitConsoleInput() {}

void SetConsoleMsgStream(MESSAGE_TYPE) {}

void SetConsoleRedirectCharset(RAR_CHARSET) {}
