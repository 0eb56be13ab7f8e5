/// @file
/// Event types of the archive component: handlers a caller may assign.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "arcfold/platform/wide.h"
#include "arcfold/types.h"

namespace arcfold {

class TAFBaseArchiver;
using afp::WideString;

using TAFFileProgressEvent = std::function<void(TAFBaseArchiver* Sender, const WideString& FileName, double Progress,
                                                TAFProcessOperation Operation, TAFProgressPhase Phase, bool& Cancel)>;
using TAFProgressEvent = std::function<void(TAFBaseArchiver* Sender, double Progress, TAFProcessOperation Operation,
                                            TAFProgressPhase Phase, bool& Cancel)>;
using TAFCopyTempFileProgressEvent =
    std::function<void(TAFBaseArchiver* Sender, double Progress, TAFProgressPhase Phase, bool& Cancel)>;
using TAFConfirmOverwriteEvent = std::function<void(TAFBaseArchiver* Sender, const WideString& SourceFileName,
                                                    WideString& DestFileName, bool& Confirm)>;
using TAFConfirmProcessFileEvent = std::function<void(TAFBaseArchiver* Sender, const WideString& FileName,
                                                      TAFProcessOperation Operation, bool& Confirm)>;
using TNotifyEvent = std::function<void(TAFBaseArchiver* Sender)>;
using TAFOnPasswordEvent =
    std::function<void(TAFBaseArchiver* Sender, const WideString& FileName, std::string& NewPassword, bool& SkipFile)>;
using TAFProcessFileFailureEvent =
    std::function<void(TAFBaseArchiver* Sender, const WideString& FileName, TAFProcessOperation Operation,
                       int NativeError, int ErrorCode, const WideString& ErrorMessage, TAFAction& Action)>;
using TAFOnRequestBlankVolumeEvent =
    std::function<void(TAFBaseArchiver* Sender, int VolumeNumber, WideString& VolumeFileName, bool& Cancel)>;
using TAFOnRequestFirstVolumeEvent =
    std::function<void(TAFBaseArchiver* Sender, WideString& VolumeFileName, bool& Cancel)>;
using TAFOnRequestLastVolumeEvent = TAFOnRequestFirstVolumeEvent;
using TAFOnRequestMiddleVolumeEvent = TAFOnRequestBlankVolumeEvent;
using TAFOnDiskFullEvent =
    std::function<void(TAFBaseArchiver* Sender, int VolumeNumber, const WideString& VolumeFileName, bool& Cancel)>;
using TAFOnStoreFileEvent = std::function<void(TAFBaseArchiver* Sender, WideString& FileName, int32_t& FileAttr,
                                               std::string& Comment, const WideString& OriginalFileName)>;
/// Another program is writing the archive: fired before a transaction waits
/// for it to finish, and again about ten times a second while it waits;
/// Cancel gives up (error 36 naming the archive).
using TAFArchiveBusyEvent = std::function<void(TAFBaseArchiver* Sender, const WideString& FileName, bool& Cancel)>;
using TAFOnExtractFileEvent =
    std::function<void(TAFBaseArchiver* Sender, WideString& FileName, uint32_t& FileAttr, const std::string& Comment)>;

}  // namespace arcfold
