#pragma once
// The devices layer's own texts: FTP and tape errors, the tape trace.
// They are used verbatim: odd spellings, missing apostrophes, blanks and
// punctuation included.  Do not correct them; users, scripts, logs and tests
// know them as they are.  This is the one place of the layer where a
// translation would hook in.

namespace vx::txt::devices {

// FTP.  "<command> resulted in <reply code>".
inline constexpr char kCouldntOpenSocket[] = "Couldnt open output socket";
inline constexpr char kCouldntResolve[] = "Couldn't resolve hostname ";
inline constexpr char kResultedIn[] = " resulted in ";
inline constexpr char kCloseFile[] = "Close file";
inline constexpr char kUnsafeValueHead[] = "the FTP ";
inline constexpr char kUnsafeValueTail[] = " holds a line break or a NUL byte and is not sent";
inline constexpr char kPasvHostNamed[] = "FTP: the PASV reply named host ";
inline constexpr char kPasvAddressUsed[] = "; the data connection goes to the server's address ";
inline constexpr char kPasvInstead[] = " instead";

// SCSI transports.
inline constexpr char kNoIscsiContext[] = ": cannot create an iSCSI context";
inline constexpr char kNotScsiGeneric[] = ": not a SCSI generic device";
inline constexpr char kCannotBeOpened[] = ": cannot be opened";
inline constexpr char kBadTapeDeviceHead[] = "SCSI pass-through (SG_IO, iSCSI) cannot use \"";
inline constexpr char kBadTapeDeviceTail[] = "\": expected a /dev/sg path or an iscsi:// URL";

// Tape errors: "<kind> <context>".
inline constexpr char kMediumError[] = "Medium error ";
inline constexpr char kHardwareError[] = "Hardware error ";
inline constexpr char kUnitAttention[] = "Unit needs attention ";
inline constexpr char kWriteProtection[] = "Write protection ";
inline constexpr char kVolumeFull[] = "Volume full ";
inline constexpr char kSetBlockSizeError[] = "Error %d during set block size";

// What a tape operation was doing, for the errors above.
inline constexpr char kDuringWriteBlock[] = "during write block";
inline constexpr char kDuringReadBlock[] = "during read block";
inline constexpr char kDuringWriteFileMark[] = "during write file mark";
inline constexpr char kDuringFlushWrite[] = "during flush write";
inline constexpr char kDuringSetBlockSize[] = "during set block size";
inline constexpr char kDuringUnload[] = "during unloading a new medium";
inline constexpr char kDuringSkipBlocks[] = "during skip blocks";
inline constexpr char kDuringRewind[] = "during tape rewind";

// The tape trace file's lines.
inline constexpr char kTraceTestUnitReady[] = "Test unit ready with Result %d";
inline constexpr char kTraceWriteBlock[] = "Writeblock size %d Bytes with Result %d";
inline constexpr char kTraceReadBlock[] = "Readblock size %d Bytes with Result %d";
inline constexpr char kTraceFileMark[] = "Write filemark with Result %d";
inline constexpr char kTraceFlush[] = "Flush all writes with Result %d";
inline constexpr char kTraceSetBlockSize[] = "Set block size to %d with Result %d";
inline constexpr char kTraceSkip[] = "Skip Forward %d with Result %d";
inline constexpr char kTraceRewind[] = "Rewind tape with Result %d";

}  // namespace vx::txt::devices
