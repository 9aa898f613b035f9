# quillmark-shell.exe's decisions (Explorer's folder menu, the installer's steps); also under Wine.
quillmark_add_gtest(winshell_test LABELS unit SOURCES unit/winshell_test.cpp LIBS winshell)
