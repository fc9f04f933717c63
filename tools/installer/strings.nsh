; The setup's and the uninstaller's own texts, in English and simplified
; Chinese (UTF-8: makensis -INPUTCHARSET UTF8). Variables are filled in when
; a text is used: $0 a regsvr32 answer or an account's name, $1 a version,
; $R9 a file, $Failure what failed.

LangString MsgUnsupported ${LANG_ENGLISH} "The ${PRODUCT} runs on Windows for x86 and x64 processors only: it cannot be installed on this system (Windows on ARM is not supported)."
LangString MsgUnsupported ${LANG_SIMPCHINESE} "${PRODUCT} 仅支持 x86 和 x64 处理器上的 Windows，无法安装在此系统上（不支持 ARM 上的 Windows）。"

LangString MsgNotAdmin ${LANG_ENGLISH} "Installing the ${PRODUCT} needs administrator rights. Run the setup as an administrator."
LangString MsgNotAdmin ${LANG_SIMPCHINESE} "安装 ${PRODUCT} 需要管理员权限。请以管理员身份运行安装程序。"

LangString MsgUnNotAdmin ${LANG_ENGLISH} "Removing the ${PRODUCT} needs administrator rights. Run the uninstaller as an administrator."
LangString MsgUnNotAdmin ${LANG_SIMPCHINESE} "卸载 ${PRODUCT} 需要管理员权限。请以管理员身份运行卸载程序。"

LangString MsgBusy ${LANG_ENGLISH} "Another setup or uninstaller of the ${PRODUCT} is running. Try again when it has finished."
LangString MsgBusy ${LANG_SIMPCHINESE} "${PRODUCT} 的另一个安装或卸载程序正在运行。请在它完成后重试。"

LangString MsgNewer ${LANG_ENGLISH} "Version $1 of the ${PRODUCT} is installed, newer than this setup's ${VERSION}. Remove it first to install this version."
LangString MsgNewer ${LANG_SIMPCHINESE} "已安装 ${PRODUCT} $1 版，比此安装程序的 ${VERSION} 版更新。要安装此版本，请先将其卸载。"

LangString MsgFailed ${LANG_ENGLISH} "The ${PRODUCT} could not be installed: $Failure. What was installed before is as it was."
LangString MsgFailed ${LANG_SIMPCHINESE} "无法安装 ${PRODUCT}：$Failure。之前安装的内容保持原样。"

LangString MsgNotRestored ${LANG_ENGLISH} "The ${PRODUCT} could not be installed: $Failure. The previous installation could not be put back whole either: run its setup again."
LangString MsgNotRestored ${LANG_SIMPCHINESE} "无法安装 ${PRODUCT}：$Failure。之前的安装也未能完整恢复：请重新运行它的安装程序。"

LangString MsgHeld ${LANG_ENGLISH} "An application still has the previous camera module open and keeps using it until it closes it. Restart Windows to remove the old file."
LangString MsgHeld ${LANG_SIMPCHINESE} "有应用程序仍打开着之前的相机模块，在关闭它之前会继续使用它。请重新启动 Windows 以删除旧文件。"

LangString MsgUnFailed ${LANG_ENGLISH} "The ${PRODUCT} could not be removed: its registration could not be removed from the registry. Nothing else was removed; run the uninstaller again as an administrator."
LangString MsgUnFailed ${LANG_SIMPCHINESE} "无法卸载 ${PRODUCT}：无法从注册表中删除它的注册信息。其他内容均未删除；请以管理员身份重新运行卸载程序。"

LangString MsgUnregisterByHand ${LANG_ENGLISH} "regsvr32 could not unregister $R9 (it answered $0): its registry entries are removed directly."
LangString MsgUnregisterByHand ${LANG_SIMPCHINESE} "regsvr32 无法注销 $R9（返回 $0）：直接删除它的注册表项。"

LangString SectionModules ${LANG_ENGLISH} "The camera modules and their registration"
LangString SectionModules ${LANG_SIMPCHINESE} "相机模块及其注册信息"

LangString SectionSettings ${LANG_ENGLISH} "The camera settings of the account $0"
LangString SectionSettings ${LANG_SIMPCHINESE} "帐户 $0 的相机设置"

LangString ReasonWrite ${LANG_ENGLISH} "$R9 could not be written"
LangString ReasonWrite ${LANG_SIMPCHINESE} "无法写入 $R9"

LangString ReasonMoveAside ${LANG_ENGLISH} "$R9 could not be moved aside"
LangString ReasonMoveAside ${LANG_SIMPCHINESE} "无法移开 $R9"

LangString ReasonRegister64 ${LANG_ENGLISH} "Windows could not register the 64-bit module (regsvr32 answered $0)"
LangString ReasonRegister64 ${LANG_SIMPCHINESE} "Windows 无法注册 64 位模块（regsvr32 返回 $0）"

LangString ReasonRegister32 ${LANG_ENGLISH} "Windows could not register the 32-bit module (regsvr32 answered $0)"
LangString ReasonRegister32 ${LANG_SIMPCHINESE} "Windows 无法注册 32 位模块（regsvr32 返回 $0）"

LangString ReasonNoRegsvr64 ${LANG_ENGLISH} "the 64-bit regsvr32 could not be started"
LangString ReasonNoRegsvr64 ${LANG_SIMPCHINESE} "无法启动 64 位 regsvr32"

LangString ReasonNoRegsvr32 ${LANG_ENGLISH} "the 32-bit regsvr32 could not be started"
LangString ReasonNoRegsvr32 ${LANG_SIMPCHINESE} "无法启动 32 位 regsvr32"

LangString ReasonEntry ${LANG_ENGLISH} "the entry in the installed programs could not be written"
LangString ReasonEntry ${LANG_SIMPCHINESE} "无法写入已安装程序列表中的条目"
