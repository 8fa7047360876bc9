# Sourced by the bench scripts: writes the set file of a quick backup of
# every file below a folder.
#   write_quick_set SET-FILE SOURCE-FOLDER DESTINATION-FOLDER ARCHIVE-NAME
write_quick_set() {
  cat >"$1" <<SET
[VAULTRex]
Magicnumber=2059128029
CompressData=1
IncludeNames=$2/*.* /S\x09
BackupDestination=$3/
ArchiveBaseName=$4
HandleOpenErrors=2
SET
}
