/// @file
/// Event types of the archive component: handlers a caller may assign.
///
/// Handlers run on the thread that called the run, one at a time and in item
/// order (helper threads never call them). During an item run (extracting,
/// testing) that thread holds the process-wide lock, afp::ProcessLock(), so
/// a handler must not wait for another thread that starts a run of its own.
/// A handler may read the archiver that fired it and set its cancel and
/// skip flags; opening, closing or changing that archiver from a handler is
/// not supported.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "arcfold/platform/wide.h"
#include "arcfold/types.h"

namespace arcfold {

class TAFBaseArchiver;
using afp::WideString;

/// Progress of one item or file (0..100); Cancel ends the run.
using TAFFileProgressEvent = std::function<void(TAFBaseArchiver* Sender, const WideString& FileName, double Progress,
                                                TAFProcessOperation Operation, TAFProgressPhase Phase, bool& Cancel)>;
/// Progress of the whole run (0..100); Cancel ends it.
using TAFProgressEvent = std::function<void(TAFBaseArchiver* Sender, double Progress, TAFProcessOperation Operation,
                                            TAFProgressPhase Phase, bool& Cancel)>;
/// Progress of copying the new archive from its temporary file into place.
using TAFCopyTempFileProgressEvent =
    std::function<void(TAFBaseArchiver* Sender, double Progress, TAFProgressPhase Phase, bool& Cancel)>;
/// Whether an existing file is replaced (omPrompt); DestFileName may be changed to write elsewhere.
using TAFConfirmOverwriteEvent = std::function<void(TAFBaseArchiver* Sender, const WideString& SourceFileName,
                                                    WideString& DestFileName, bool& Confirm)>;
/// Whether an item or file takes part in the run (Confirm false passes it over).
using TAFConfirmProcessFileEvent = std::function<void(TAFBaseArchiver* Sender, const WideString& FileName,
                                                      TAFProcessOperation Operation, bool& Confirm)>;
/// A plain notification (before and after a run, ...).
using TNotifyEvent = std::function<void(TAFBaseArchiver* Sender)>;
/// A password is needed for FileName: set NewPassword, or SkipFile to pass the item over.
using TAFOnPasswordEvent =
    std::function<void(TAFBaseArchiver* Sender, const WideString& FileName, std::string& NewPassword, bool& SkipFile)>;
/// An item or file failed: NativeError is the specific code, ErrorCode its category, ErrorMessage the text; Action says
/// whether to retry, pass it over or end the run.
using TAFProcessFileFailureEvent =
    std::function<void(TAFBaseArchiver* Sender, const WideString& FileName, TAFProcessOperation Operation,
                       int NativeError, int ErrorCode, const WideString& ErrorMessage, TAFAction& Action)>;
/// A spanned archive needs a blank medium for volume VolumeNumber; Cancel ends the run.
using TAFOnRequestBlankVolumeEvent =
    std::function<void(TAFBaseArchiver* Sender, int VolumeNumber, WideString& VolumeFileName, bool& Cancel)>;
/// A spanned archive needs its first volume; VolumeFileName may be changed; Cancel ends the run.
using TAFOnRequestFirstVolumeEvent =
    std::function<void(TAFBaseArchiver* Sender, WideString& VolumeFileName, bool& Cancel)>;
/// A spanned archive needs its last volume (the one with the directory).
using TAFOnRequestLastVolumeEvent = TAFOnRequestFirstVolumeEvent;
/// A spanned archive needs volume VolumeNumber.
using TAFOnRequestMiddleVolumeEvent = TAFOnRequestBlankVolumeEvent;
/// The medium of volume VolumeNumber is full; Cancel ends the run.
using TAFOnDiskFullEvent =
    std::function<void(TAFBaseArchiver* Sender, int VolumeNumber, const WideString& VolumeFileName, bool& Cancel)>;
/// A file is about to be stored: its item name, attributes and comment may be changed.
using TAFOnStoreFileEvent = std::function<void(TAFBaseArchiver* Sender, WideString& FileName, int32_t& FileAttr,
                                               std::string& Comment, const WideString& OriginalFileName)>;
/// Another program is writing the archive: fired before a transaction waits
/// for it to finish, and again about ten times a second while it waits;
/// Cancel gives up (error 36 naming the archive).
using TAFArchiveBusyEvent = std::function<void(TAFBaseArchiver* Sender, const WideString& FileName, bool& Cancel)>;
/// An item is about to be extracted: the file name and attributes may be changed.
using TAFOnExtractFileEvent =
    std::function<void(TAFBaseArchiver* Sender, WideString& FileName, uint32_t& FileAttr, const std::string& Comment)>;

}  // namespace arcfold
