#include "cli/printcommand.h"

namespace {

// Options that take a value: "--name VALUE" or "--name=VALUE".
bool TakeValue(const QStringList &arguments, int *i, const QString &name, QString *value, QString *error)
{
    const QString &argument = arguments.at(*i);
    if (argument.startsWith(name + QLatin1Char('='))) {
        *value = argument.mid(name.size() + 1);
    } else if (*i + 1 < arguments.size()) {
        *value = arguments.at(++*i);
    } else {
        *error = QStringLiteral("选项 %1 缺少取值。").arg(name);
        return false;
    }
    if (value->isEmpty()) {
        *error = QStringLiteral("选项 %1 的取值不能为空。").arg(name);
        return false;
    }
    return true;
}

bool IsOption(const QString &argument, const QString &name)
{
    return argument == name || argument.startsWith(name + QLatin1Char('='));
}

} // namespace

QString ParsePrintCommand(const QStringList &arguments, PrintCommand *command)
{
    *command = PrintCommand();
    bool haveFolder = false;
    bool optionsEnded = false;
    QString error;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        const bool isOption = !optionsEnded && argument.startsWith(QLatin1Char('-')) && argument != "-";
        if (!isOption) {
            if (haveFolder)
                return QStringLiteral("只能指定一个文件夹：%1").arg(argument);
            if (argument.isEmpty())
                return QStringLiteral("文件夹不能为空。");
            command->folder = argument;
            haveFolder = true;
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            command->help = true;
            return QString(); // nothing else matters
        } else if (argument == "--quiet" || argument == "-q") {
            command->quiet = true;
        } else if (argument == "--ask-password") {
            command->askPassword = true;
        } else if (IsOption(argument, "--delay")) {
            QString value;
            if (!TakeValue(arguments, &i, "--delay", &value, &error))
                return error;
            bool ok = false;
            const int delay = value.toInt(&ok, 10);
            if (!ok || delay < 0 || delay > kMaxPrintDelayMs)
                return QStringLiteral("延时应为 0 到 %1 之间的毫秒数：%2").arg(kMaxPrintDelayMs).arg(value);
            command->delayMs = delay;
        } else if (IsOption(argument, "--printer")) {
            if (!TakeValue(arguments, &i, "--printer", &command->printer, &error))
                return error;
        } else if (IsOption(argument, "--password-file")) {
            if (!TakeValue(arguments, &i, "--password-file", &command->passwordFile, &error))
                return error;
        } else if (IsOption(argument, "--password") || argument == "-p") {
            // Every user can read a process's command line, so a password there is refused outright.
            return QStringLiteral("密码不能写在命令行上（其他用户可在进程列表中看到）；"
                                  "请使用 --password-file、--ask-password 或环境变量 QUILLMARK_PASSWORD。");
        } else {
            return QStringLiteral("未知选项：%1").arg(argument);
        }
    }
    if (!haveFolder)
        return QStringLiteral("请指定要打印的文件夹。");
    if (command->askPassword && !command->passwordFile.isEmpty())
        return QStringLiteral("--ask-password 与 --password-file 只能选其一。");
    return QString();
}

QString PrintCommandHelp()
{
    return QStringLiteral(
        "用法：quillmark-print 文件夹 [--delay 毫秒] [--printer 打印机] [--password-file 文件]\n"
        "                      [--ask-password] [--quiet]\n"
        "\n"
        "打印文件夹及其所有子文件夹中的全部 Word 文档（.doc、.docx、.docm），顺序与窗口相同。\n"
        "未能打开的文档列在该文件夹中的“无法设置或修改密码的文件目录.txt”里。\n"
        "\n"
        "  --delay 毫秒           每打印一个文档后暂停的时间（0 到 120000，默认 0）\n"
        "  --printer 打印机       CUPS 打印机名称（默认：默认打印机；Windows 上不支持，总是默认打印机）\n"
        "  --password-file 文件   从文件的第一行读取文档密码\n"
        "  --ask-password         在终端上输入文档密码（不回显）\n"
        "  --quiet, -q            不显示进度和汇总\n"
        "  --help, -h             显示本帮助\n"
        "\n"
        "密码也可由环境变量 QUILLMARK_PASSWORD 提供；出于安全考虑，密码不能写在命令行上。\n"
        "退出码：0 全部打印；1 有文档未能打印（见失败列表）；2 无法打印（没有文字处理软件、\n"
        "没有可用的打印机、文件夹不存在或参数错误）；130 被中断。\n"
        "\n"
        "Usage: quillmark-print FOLDER [--delay MS] [--printer NAME] [--password-file FILE]\n"
        "                      [--ask-password] [--quiet]\n"
        "\n"
        "Prints every Word document (.doc, .docx, .docm) in FOLDER and all its subfolders, in the same\n"
        "order as the window. Documents that do not open are listed in the folder's failure list\n"
        "\"无法设置或修改密码的文件目录.txt\".\n"
        "\n"
        "  --delay MS             pause after each printed document (0 to 120000, default 0)\n"
        "  --printer NAME         CUPS destination (default: the default destination; refused on Windows,\n"
        "                         which always prints to the default printer)\n"
        "  --password-file FILE   read the documents' password from the file's first line\n"
        "  --ask-password         type the password on the terminal (not echoed)\n"
        "  --quiet, -q            no progress and no summary\n"
        "  --help, -h             show this help\n"
        "\n"
        "The password can also come from the environment variable QUILLMARK_PASSWORD; it is never\n"
        "accepted on the command line.\n"
        "Exit codes: 0 all printed; 1 some documents in the failure list; 2 nothing could be printed\n"
        "(no word processor, no usable printer, missing folder, bad arguments); 130 interrupted.\n");
}
