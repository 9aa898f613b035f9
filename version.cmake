# The one place a release is numbered; a release raises both as needed.
# QUILLMARK_VERSION is what people see: the window's title, the packages' names, and with the release number
# the Windows installer's ProductVersion (MAJOR.MINOR.RELEASE). QUILLMARK_RELEASE is the whole number that
# the self-update compares and that a release's signature names.
set(QUILLMARK_VERSION 2.0)
set(QUILLMARK_RELEASE 1)
