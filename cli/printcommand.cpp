#include "cli/printcommand.h"

namespace {

// Options that take a value: "--name VALUE" or "--name=VALUE".
bool TakeValue(const QStringList &arguments, int *i, const QString &name, QString *value, QString *error)
{
    const QString &argument = arguments.at(*i);
    if (argument.startsWith(name + QLatin1Char('='))) {
        *value = argument.mid(name.size() + 1);
    } else if (*i + 1 < arguments.size()) {
        // "--pdf --overwrite" forgot the folder; a value of that shape is written "--pdf=-x".
        const QString &next = arguments.at(*i + 1);
        if (next.startsWith(QLatin1Char('-')) && next.size() > 1) {
            *error = QStringLiteral("选项 %1 缺少取值（%2 是另一个选项；以 - 开头的取值请写成 %1=%2）。")
                         .arg(name, next);
            return false;
        }
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
    bool stableGiven = false;
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
            command->delayGiven = true;
        } else if (IsOption(argument, "--printer")) {
            if (!TakeValue(arguments, &i, "--printer", &command->printer, &error))
                return error;
        } else if (IsOption(argument, "--password-file")) {
            if (!TakeValue(arguments, &i, "--password-file", &command->passwordFile, &error))
                return error;
        } else if (IsOption(argument, "--passwords-file")) {
            if (!TakeValue(arguments, &i, "--passwords-file", &command->passwordsFile, &error))
                return error;
        } else if (argument == "--check") {
            command->check = true;
        } else if (argument == "--collate") {
            command->printOptions.collate = true;
        } else if (argument == "--overwrite") {
            command->overwrite = true;
        } else if (IsOption(argument, "--copies")) {
            QString value;
            if (!TakeValue(arguments, &i, "--copies", &value, &error))
                return error;
            bool ok = false;
            const int copies = value.toInt(&ok, 10);
            if (!ok || copies < 1 || copies > kMaxCopies)
                return QStringLiteral("份数应为 1 到 %1 之间的整数：%2").arg(kMaxCopies).arg(value);
            command->printOptions.copies = copies;
        } else if (IsOption(argument, "--duplex")) {
            QString value;
            if (!TakeValue(arguments, &i, "--duplex", &value, &error))
                return error;
            using Duplex = WordProcessor::PrintOptions::Duplex;
            if (value == "long")
                command->printOptions.duplex = Duplex::LongEdge;
            else if (value == "short")
                command->printOptions.duplex = Duplex::ShortEdge;
            else if (value == "off")
                command->printOptions.duplex = Duplex::Off;
            else
                return QStringLiteral("双面打印应为 long、short 或 off：%1").arg(value);
        } else if (IsOption(argument, "--pages")) {
            QString value;
            if (!TakeValue(arguments, &i, "--pages", &value, &error))
                return error;
            if (!IsValidPageRange(value))
                return QStringLiteral("页码范围无效（例如 1-3,5）：%1").arg(value);
            command->printOptions.pages = value;
        } else if (IsOption(argument, "--pdf")) {
            if (!TakeValue(arguments, &i, "--pdf", &command->pdfFolder, &error))
                return error;
        } else if (IsOption(argument, "--report")) {
            if (!TakeValue(arguments, &i, "--report", &command->reportPath, &error))
                return error;
            const QString lower = command->reportPath.toLower();
            if (!lower.endsWith(".csv") && !lower.endsWith(".json"))
                return QStringLiteral("报告文件的扩展名应为 .csv 或 .json：%1").arg(command->reportPath);
        } else if (IsOption(argument, "--from-list")) {
            if (!TakeValue(arguments, &i, "--from-list", &command->fromList, &error))
                return error;
        } else if (argument == "--new-only") {
            command->newOnly = true;
        } else if (argument == "--watch") {
            command->watch = true;
        } else if (IsOption(argument, "--stable-seconds")) {
            QString value;
            if (!TakeValue(arguments, &i, "--stable-seconds", &value, &error))
                return error;
            bool ok = false;
            const int seconds = value.toInt(&ok, 10);
            if (!ok || seconds < 1 || seconds > kMaxStableSeconds)
                return QStringLiteral("--stable-seconds 应为 1 到 %1 之间的秒数：%2")
                    .arg(kMaxStableSeconds)
                    .arg(value);
            command->stableSeconds = seconds;
            stableGiven = true;
        } else if (IsOption(argument, "--done-folder")) {
            if (!TakeValue(arguments, &i, "--done-folder", &command->doneFolder, &error))
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
    const int passwordSources = int(command->askPassword) + int(!command->passwordFile.isEmpty()) +
                                int(!command->passwordsFile.isEmpty());
    if (passwordSources > 1)
        return QStringLiteral("--ask-password、--password-file 与 --passwords-file 只能选其一。");
    // Options that would be silently ignored are refused: the user meant something else.
    if (command->check && !command->pdfFolder.isEmpty())
        return QStringLiteral("--check 与 --pdf 只能选其一。");
    const bool printing = !command->check && command->pdfFolder.isEmpty();
    const WordProcessor::PrintOptions &options = command->printOptions;
    if (!printing && (options.copies != 1 || options.collate ||
                      options.duplex != WordProcessor::PrintOptions::Duplex::Printer))
        return QStringLiteral("--copies、--collate 与 --duplex 只用于打印，不能与 --check 或 --pdf 同用。");
    if (!printing && !command->printer.isEmpty())
        return QStringLiteral("--printer 只用于打印，不能与 --check 或 --pdf 同用。");
    if (command->check && !options.pages.isEmpty())
        return QStringLiteral("--pages 不能与 --check 同用。");
    if (command->overwrite && command->pdfFolder.isEmpty())
        return QStringLiteral("--overwrite 只能与 --pdf 同用。");
    if (command->delayGiven && !printing)
        return QStringLiteral("--delay 只用于打印，不能与 --check 或 --pdf 同用。");
    // What was done, and when, is read from the report and its ledger.
    if ((command->newOnly || command->watch) && command->reportPath.isEmpty())
        return QStringLiteral("--new-only 与 --watch 需要 --report 文件（记录已完成的文档）。");
    if (command->watch && (command->check || !command->fromList.isEmpty()))
        return QStringLiteral("--watch 不能与 --check 或 --from-list 同用。");
    if (stableGiven && !command->watch)
        return QStringLiteral("--stable-seconds 只能与 --watch 同用。");
    if (!command->doneFolder.isEmpty() && command->check)
        return QStringLiteral("--done-folder 不能与 --check 同用。");
    return QString();
}

QString PrintCommandHelp()
{
    return QStringLiteral(
        "用法：quillmark-print 文件夹 [选项]\n"
        "\n"
        "打印文件夹及其所有子文件夹中的全部 Word 文档（.doc、.docx、.docm），顺序与窗口相同。\n"
        "未能打印的文档列在该文件夹中的“无法设置或修改密码的文件目录.txt”里（导出 PDF 时是\n"
        "“无法导出PDF的文件目录.txt”；检查时不改动任何列表）。\n"
        "\n"
        "  --delay 毫秒             每打印一个文档后暂停的时间（0 到 120000，默认 0；只用于打印）\n"
        "  --printer 打印机         CUPS 打印机名称（默认：默认打印机；Windows 上不支持，总是默认打印机）\n"
        "  --password-file 文件     从文件的第一行读取文档密码\n"
        "  --passwords-file 文件    每行一个密码（UTF-8，空行表示无密码），按顺序逐个尝试\n"
        "  --ask-password           在终端上输入文档密码（不回显）\n"
        "  --check                  只检查每个文档能否打开，不打印\n"
        "  --copies 份数            每个文档打印的份数（1 到 999）\n"
        "  --collate                逐份打印\n"
        "  --duplex long|short|off  双面打印：长边翻转、短边翻转或单面\n"
        "  --pages 范围             每个文档只打印这些页，例如 1-3,5（文档没有其中任何一页时记为 no-pages）\n"
        "  --pdf 文件夹             不打印，而是把每个文档另存为 PDF，保持相对路径\n"
        "  --overwrite              与 --pdf 同用：覆盖本程序以前生成且未被改动的 PDF（其他文件一律保留）\n"
        "  --report 文件            逐个文档的报告，.csv 或 "
        ".json（每行一个对象）；已有的本程序报告会被续写，\n"
        "                           其他文件不会被覆盖\n"
        "  --from-list 文件         只处理文件中列出的文档（失败列表或 .csv/.json 报告）\n"
        "  --new-only               只处理新的或改动过的文档（依据 --report 的报告及其旁边的 .ledger 记录）\n"
        "  --watch                  持续监视文件夹，新文档不再变化后打印（或导出）一次；需要 --report\n"
        "  --stable-seconds 秒      与 --watch 同用：文档保持不变多久后才处理（1 到 3600，默认 5）\n"
        "  --done-folder 文件夹     把已打印（或已导出）的文档移到该文件夹，保持相对路径，不覆盖已有文件\n"
        "  --quiet, -q              不显示进度和汇总\n"
        "  --help, -h               显示本帮助\n"
        "\n"
        "以 - 开头的取值请写成 --选项=取值。密码也可由环境变量 QUILLMARK_PASSWORD 提供；出于安全考虑，\n"
        "密码不能写在命令行上。\n"
        "退出码：0 全部完成；1 有文档未能完成（失败、未能确认、PDF 已存在、没有所选页，或因中途停止而\n"
        "未尝试），都列在失败列表中，可用 --from-list 重试；2 什么都没做成且没有去向不明的打印任务（没有\n"
        "文字处理软件、没有可用的打印机、文件夹不存在或参数错误），原样再运行不会重复打印；130 被中断\n"
        "（Ctrl+C、SIGTERM 或 SIGHUP）。--watch 被 Ctrl+C 或 SIGTERM 结束时退出码为 0。\n"
        "\n"
        "Usage: quillmark-print FOLDER [OPTIONS]\n"
        "\n"
        "Prints every Word document (.doc, .docx, .docm) in FOLDER and all its subfolders, in the same\n"
        "order as the window. Documents that do not print are listed in the folder's failure list\n"
        "\"无法设置或修改密码的文件目录.txt\" (when exporting PDFs: \"无法导出PDF的文件目录.txt\"; a check\n"
        "changes no list).\n"
        "\n"
        "  --delay MS               pause after each printed document (0 to 120000, default 0; printing "
        "only)\n"
        "  --printer NAME           CUPS destination (default: the default destination; refused on Windows,\n"
        "                           which always prints to the default printer)\n"
        "  --password-file FILE     read the documents' password from the file's first line\n"
        "  --passwords-file FILE    one password per line (UTF-8, an empty line: no password), tried in "
        "order\n"
        "  --ask-password           type the password on the terminal (not echoed)\n"
        "  --check                  only check that every document opens; print nothing\n"
        "  --copies N               copies of each document (1 to 999)\n"
        "  --collate                collate the copies\n"
        "  --duplex long|short|off  two-sided on the long or short edge, or one-sided\n"
        "  --pages RANGE            print only these pages of each document, for example 1-3,5 (a document\n"
        "                           with none of them: no-pages)\n"
        "  --pdf DIR                save each document as PDF under DIR at the same relative path instead\n"
        "  --overwrite              with --pdf: replace PDFs this program made and nobody changed since\n"
        "                           (any other file stays)\n"
        "  --report FILE            a report per document, .csv or .json (one object per line); a report of\n"
        "                           ours there is carried on, any other file is never replaced\n"
        "  --from-list FILE         take only the documents FILE names (a failure list, a .csv/.json "
        "report)\n"
        "  --new-only               take only new or changed documents (by the --report file and the\n"
        "                           .ledger beside it)\n"
        "  --watch                  keep watching FOLDER; print (or export) each new document once it has\n"
        "                           stopped changing; needs --report\n"
        "  --stable-seconds S       with --watch: how long a document must stay the same (1 to 3600, default "
        "5)\n"
        "  --done-folder DIR        move each printed (or exported) document to DIR at its relative path,\n"
        "                           never over a file there\n"
        "  --quiet, -q              no progress and no summary\n"
        "  --help, -h               show this help\n"
        "\n"
        "A value that starts with - is written --option=value. The password can also come from the\n"
        "environment variable QUILLMARK_PASSWORD; it is never accepted on the command line.\n"
        "Exit codes: 0 all done; 1 some documents not done (failed, not confirmed, PDF kept, no pages, or "
        "not\n"
        "tried because the run stopped), all in the failure list for --from-list; 2 nothing done and no job\n"
        "of unknown fate (no word processor, no usable printer, missing folder, bad arguments), so running "
        "the\n"
        "same command again prints nothing twice; 130 interrupted (Ctrl+C, SIGTERM or SIGHUP). --watch "
        "ended\n"
        "by Ctrl+C or SIGTERM exits with 0.\n");
}
