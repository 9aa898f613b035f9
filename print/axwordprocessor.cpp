#include "print/axwordprocessor.h"

#include <QAxObject>
#include <QList>
#include <QVariant>
#include <algorithm>

#include <objbase.h>

AxWordProcessor::~AxWordProcessor()
{
    delete application_;
}

bool AxWordProcessor::create()
{
    // The print thread joins the multithreaded apartment before the server is created; the result is
    // not needed (an apartment joined earlier is as good).
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    application_ = new QAxObject();
    if (!application_->setControl(QStringLiteral("Word.Application")) || application_->isNull()) {
        delete application_;
        application_ = nullptr;
        return false;
    }
    return true;
}

void AxWordProcessor::setVisible(bool visible)
{
    if (application_)
        application_->dynamicCall("SetVisible (bool Visible)",
                                  visible ? QStringLiteral("true") : QStringLiteral("false"));
}

void AxWordProcessor::setDisplayAlerts(bool enabled)
{
    if (application_)
        application_->setProperty("DisplayAlerts", enabled);
}

bool AxWordProcessor::queryDocuments()
{
    if (!application_)
        return false;
    documents_ = application_->querySubObject("Documents");
    return documents_ != nullptr;
}

WordProcessor::Document AxWordProcessor::open(const QString &path, bool confirmConversions, bool readOnly,
                                              bool addToRecentFiles, const QString &passwordDocument,
                                              const QString &passwordTemplate, bool revert)
{
    if (!documents_ || aborted_)
        return NoDocument;
    QAxObject *document = documents_->querySubObject(
        "Open(const QString&,QVariant,QVariant,QVariant,QVariant,QVariant,QVariant,QVariant)", path,
        QVariant(confirmConversions), QVariant(readOnly), QVariant(addToRecentFiles),
        QVariant(passwordDocument), QVariant(passwordTemplate), QVariant(revert));
    if (!document)
        return NoDocument;
    const Document handle = next_++;
    opened_.insert(handle, document);
    return handle;
}

bool AxWordProcessor::printOut(Document document)
{
    QAxObject *object = opened_.value(document);
    if (!object || aborted_)
        return false;
    // Word spools in the background and tells nothing of the job: the result is not known here.
    object->dynamicCall("PrintOut()");
    return true;
}

void AxWordProcessor::close(Document document, bool saveChanges)
{
    // Also after an abort: quitting the server with a document still open leaves it to ask about that
    // document, or to keep running. The object stays with the application and is released with it.
    QAxObject *object = opened_.take(document);
    if (object)
        object->dynamicCall("Close (Boolean)", saveChanges);
}

void AxWordProcessor::quit()
{
    if (!application_)
        return;
    // Whatever is still open is closed without saving first, oldest first.
    QList<Document> handles = opened_.keys();
    std::sort(handles.begin(), handles.end());
    for (const Document handle : handles)
        close(handle, false);
    application_->dynamicCall("Quit(void)");
    opened_.clear();
    documents_ = nullptr;
    delete application_;
    application_ = nullptr;
}

void AxWordProcessor::abort()
{
    // COM objects belong to the print thread; from here only the remaining calls can be stopped.
    aborted_ = true;
}
