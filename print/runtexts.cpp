#include "print/runtexts.h"

#include "print/failurelist.h"

#include <QDir>

QString RunTexts::verb() const
{
    switch (mode_) {
    case PrintJobSettingsRecord::Mode::Check:
        return QStringLiteral("检查");
    case PrintJobSettingsRecord::Mode::ExportPdf:
        return QStringLiteral("导出");
    case PrintJobSettingsRecord::Mode::Print:
        break;
    }
    return QStringLiteral("打印");
}

QString RunTexts::noWordProcessor() const
{
    return QStringLiteral("未找到可用的文字处理软件（Word、WPS 或 LibreOffice），未能%1。").arg(verb());
}

QString RunTexts::notAnswering() const
{
    return QStringLiteral("文字处理软件没有响应，其余文档未能处理。");
}

QString RunTexts::breakdown(WordProcessor::Breakdown breakdown) const
{
    switch (breakdown) {
    case WordProcessor::Breakdown::Unavailable:
        return noWordProcessor();
    case WordProcessor::Breakdown::NotAnswering:
        return notAnswering();
    case WordProcessor::Breakdown::None:
        break;
    }
    return QString();
}

QString RunTexts::noDocuments() const
{
    return QStringLiteral("文字处理软件无法打开文档，未能%1。").arg(verb());
}

QString RunTexts::aborted() const
{
    return QStringLiteral("%1已中止。").arg(verb());
}

QString RunTexts::unconfirmed(int count) const
{
    return QStringLiteral("另有%1个文档已交给打印机，但未能确认是否打印出来（失败列表中标为“%2”）。")
        .arg(count)
        .arg(FailureListUnconfirmedMarker().trimmed());
}

QString RunTexts::printOptionsUnsupported() const
{
    return QStringLiteral("所用的文字处理软件不支持所选的打印选项，未能打印。");
}

QString RunTexts::pdfExportUnsupported() const
{
    return QStringLiteral("所用的文字处理软件不能导出 PDF，未能导出。");
}

QString RunTexts::noTemporaryFolder() const
{
    return QStringLiteral("无法创建临时文件夹，未能导出。");
}

QString RunTexts::failureListNotWritten(const QString &path)
{
    return QStringLiteral("无法写入打印失败的文件列表（%1），列表未能显示。")
        .arg(QDir::toNativeSeparators(path));
}
