#include "device/form_download.h"

#include "device/bounded_log.h"
#include "device/device_link.h"
#include "device/device_message.h"
#include "device/time_range.h"
#include "device/upload_response.h"
#include "toolkit/exception_display.h"
#include "toolkit/exceptions.h"

#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace {

QLabel* namedLabel(const char* name, const QString& text, const char* style = nullptr)
{
    auto* label = new QLabel(text);
    label->setObjectName(QLatin1String(name));
    if (style) label->setStyleSheet(QLatin1String(style));
    return label;
}

}  // namespace

TformDownload::TformDownload(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("formDownload"));
    setWindowTitle(QStringLiteral("DVR/MMV/LOG"));
    auto* layout = new QVBoxLayout(this);

    auto* top = new QHBoxLayout;
    auto* request = new QPushButton(QStringLiteral("Upload Request"));
    request->setObjectName(QStringLiteral("btnUploadRequest"));
    top->addWidget(request);

    auto* type = new QGroupBox(QStringLiteral(" Type "));
    type->setObjectName(QStringLiteral("RadioGroup3"));
    auto* typeLayout = new QHBoxLayout(type);
    rbUploadDrv = new QRadioButton(QStringLiteral("DRV"));
    rbUploadDrv->setObjectName(QStringLiteral("rbUploadDrv"));
    rbUploadDrv->setChecked(true);
    rbUploadMMV = new QRadioButton(QStringLiteral("MMV"));
    rbUploadMMV->setObjectName(QStringLiteral("rbUploadMMV"));
    rbUploadSystemLog = new QRadioButton(QStringLiteral("SystemLog"));
    rbUploadSystemLog->setObjectName(QStringLiteral("rbUploadSystemLog"));
    for (QRadioButton* rb : {rbUploadDrv, rbUploadMMV, rbUploadSystemLog}) typeLayout->addWidget(rb);
    top->addWidget(type);
    layout->addLayout(top);

    auto* times = new QGridLayout;
    times->addWidget(namedLabel("lbFrom", QStringLiteral("From")), 0, 0);
    times->addWidget(namedLabel("lbTo", QStringLiteral("To")), 0, 1);
    maskEdFromTime = new QLineEdit;
    maskEdFromTime->setObjectName(QStringLiteral("maskEdFromTime"));
    maskEdToTime = new QLineEdit;
    maskEdToTime->setObjectName(QStringLiteral("maskEdToTime"));
    times->addWidget(maskEdFromTime, 1, 0);
    times->addWidget(maskEdToTime, 1, 1);
    layout->addLayout(times);

    auto* sizes = new QGridLayout;
    const struct {
        const char* caption;
        const char* value;
        const char* compare;
    } rows[] = {{"Upload Packge Size", "lbUploadtSize", "lbCompareUploadSize"},
                {"File Header Size", "lbUploadFileSize", "lbCompareUploadFileSize"},
                {"Total Frame Count", "lbUploadFrameCount", nullptr}};
    int row = 0;
    for (const auto& r : rows) {
        sizes->addWidget(new QLabel(QLatin1String(r.caption)), row, 0);
        sizes->addWidget(namedLabel(r.value, QStringLiteral("0")), row, 1);
        if (r.compare) sizes->addWidget(namedLabel(r.compare, QStringLiteral("0"), "color: red;"), row, 2);
        ++row;
    }
    layout->addLayout(sizes);
    QLabel* status = namedLabel("lbUploadStatus", QStringLiteral("Waiting Upload Response.."), "color: blue; font-weight: bold;");
    // A long reason (a lost link, a size mismatch) wraps instead of widening the dialog.
    status->setWordWrap(true);
    layout->addWidget(status);

    progressBarDownload = new QProgressBar;
    progressBarDownload->setObjectName(QStringLiteral("progressBarDownload"));
    progressBarDownload->setRange(0, 100);
    progressBarDownload->setValue(0);
    layout->addWidget(progressBarDownload);

    memoUpload = new QPlainTextEdit;
    memoUpload->setObjectName(QStringLiteral("memoUpload"));
    memoUpload->setReadOnly(true);
    memoUpload->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(memoUpload, 1);
    uploadLog_ = new BoundedLog(memoUpload);
    resize(520, 480);

    toolkit::connectGuarded(request, &QPushButton::clicked, this, [this] { btnUploadRequestClick(); });
    toolkit::connectGuarded(rbUploadDrv, &QRadioButton::clicked, this, [this] { rbUploadDrvClick(); });
    toolkit::connectGuarded(rbUploadMMV, &QRadioButton::clicked, this, [this] { rbUploadMMVClick(); });
    toolkit::connectGuarded(rbUploadSystemLog, &QRadioButton::clicked, this, [this] { rbUploadSystemLogClick(); });
    FormCreate();
}

void TformDownload::FormCreate()
{
    // The zone's rules are applied per entered date (daylight saving included),
    // not one standard bias for the whole year.
    zone_ = QTimeZone::systemTimeZone();
}

void TformDownload::attach(DeviceLink* link)
{
    link_ = link;
    connect(link, &DeviceLink::uploadMemoLine, uploadLog_, &BoundedLog::append);
    // Messages beyond 2 GiB do not fit the bar's int range; it shows them in KiB.
    connect(link, &DeviceLink::progressRange, progressBarDownload, [this](qint64 max) {
        progressBarDownload->setProperty("divisor", max > INT_MAX ? 1024 : 1);
        progressBarDownload->setRange(0, int(max / progressBarDownload->property("divisor").toLongLong()));
    });
    connect(link, &DeviceLink::progressValue, progressBarDownload, [this](qint64 value) {
        const qint64 divisor = std::max<qint64>(1, progressBarDownload->property("divisor").toLongLong());
        progressBarDownload->setValue(int(std::min<qint64>(value / divisor, progressBarDownload->maximum())));
    });
    connect(link, &DeviceLink::uploadResponseRead, this, &TformDownload::showUploadResponse);
    connect(link, &DeviceLink::uploadCompared, this, &TformDownload::showCompared);
    connect(link, &DeviceLink::uploadSaved, this, &TformDownload::showSaved);
    connect(link, &DeviceLink::uploadFailed, this, &TformDownload::showFailure);
    connect(link, &DeviceLink::connectionChanged, this, &TformDownload::showConnection);
    connect(link, &DeviceLink::recorderError, this, &TformDownload::showRecorderError);
}

void TformDownload::setStatus(const QString& text) { control<QLabel>("lbUploadStatus")->setText(device::printableText(text)); }

void TformDownload::resetProgress()
{
    progressBarDownload->setRange(0, 100);
    progressBarDownload->setValue(0);
}

void TformDownload::showUploadResponse(const device::UploadResponseRecord& r)
{
    current_ = r;
    currentSaved_ = false;
    control<QLabel>("lbUploadtSize")->setText(QString::number(r.declaredLength));
    control<QLabel>("lbUploadFileSize")->setText(QString::number(r.dataLength));
    control<QLabel>("lbUploadFrameCount")->setText(QString::number(r.frameCount));
}

// A file whose length does not add up is kept, but "is saved" would hide
// that it is not what the recorder declared.
void TformDownload::showSaved(const QString& line)
{
    currentSaved_ = true;
    setStatus(current_ && !current_->sizeMatches() ? current_->mismatchLine() : line);
}

void TformDownload::showCompared(qint64 consumed)
{
    control<QLabel>("lbCompareUploadSize")->setText(QString::number(consumed));
    control<QLabel>("lbCompareUploadFileSize")->setText(QString::number(consumed - device::kUploadOverhead));
    outstanding_ = std::max(0, outstanding_ - 1);
    // The whole answer is in, also when it came in one piece and the bar never moved.
    progressBarDownload->setValue(progressBarDownload->maximum());
    if (!current_) return;
    if (!current_->sizeMatches())
        setStatus(current_->mismatchLine());
    else if (current_->carriesFile() && !currentSaved_)
        setStatus(QStringLiteral("Nothing saved: the file name \"%1\" was refused.").arg(current_->fileName));
    else if (!current_->carriesFile())
        setStatus(QStringLiteral("No file in the answer (data type %1).").arg(current_->dataType));
}

// A request that ends without a file: the bar goes back and the status says why.
void TformDownload::endWithoutFile(const QString& status)
{
    outstanding_ = std::max(0, outstanding_ - 1);
    resetProgress();
    setStatus(status);
}

void TformDownload::showFailure(const QString& text) { endWithoutFile(QStringLiteral("Download failed: %1").arg(text)); }

// A recorder that refuses a request answers with an error instead of the file;
// an error while a file is arriving, or with nothing asked, is the console's.
void TformDownload::showRecorderError(int code, const QString& text)
{
    if (outstanding_ == 0 || current_) return;
    endWithoutFile(QStringLiteral("The recorder answered with an error: %1 (code %2)").arg(text.trimmed()).arg(code));
}

// Without this the bar would stay where the transfer stopped and the status
// would still tell of the file before.
void TformDownload::showConnection(bool connected, const QString& text)
{
    if (connected) return;
    const bool cut = progressBarDownload->value() > progressBarDownload->minimum() &&
                     progressBarDownload->value() < progressBarDownload->maximum();
    if (cut || outstanding_ > 0) resetProgress();
    if (outstanding_ > 0) setStatus(QStringLiteral("Download not finished: the connection was lost (%1).").arg(text));
    outstanding_ = 0;
}

QString TformDownload::dateTimeFormat(const QLocale& locale)
{
    QString date = locale.dateFormat(QLocale::ShortFormat);
    // A two-digit year would read back as 19xx.
    static const QRegularExpression shortYear(QStringLiteral("(?<!y)yy(?!y)"));
    date.replace(shortYear, QStringLiteral("yyyy"));
    QString time = locale.timeFormat(QLocale::LongFormat);
    static const QRegularExpression zoneName(QStringLiteral("\\s*\\(?t+\\)?"));
    time.remove(zoneName);
    return date + QLatin1Char(' ') + time.trimmed();
}

void TformDownload::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    toolkit::runGuarded([this] { FormShow(); }, this);
}

void TformDownload::FormShow()
{
    const QLocale locale;
    const QString format = dateTimeFormat(locale);
    const QDateTime now = QDateTime::currentDateTime();
    maskEdFromTime->setText(locale.toString(now.addSecs(-60), format));
    maskEdToTime->setText(locale.toString(now, format));
}

void TformDownload::enableTimes(bool enabled)
{
    maskEdFromTime->setEnabled(enabled);
    maskEdToTime->setEnabled(enabled);
}

void TformDownload::rbUploadDrvClick()
{
    if (rbUploadDrv->isChecked()) enableTimes(true);
}

void TformDownload::rbUploadMMVClick()
{
    if (rbUploadMMV->isChecked()) enableTimes(true);
}

void TformDownload::rbUploadSystemLogClick()
{
    if (rbUploadSystemLog->isChecked()) enableTimes(false);
}

qint64 TformDownload::countOf(const QLineEdit* edit) const
{
    const QLocale locale;
    const QDateTime entered = locale.toDateTime(edit->text().trimmed(), dateTimeFormat(locale));
    if (!entered.isValid())
        throw toolkit::EConvertError(QStringLiteral("'%1' is not a valid date and time").arg(edit->text()));
    return device::utcCount(entered.date(), entered.time(), zone_);
}

void TformDownload::btnUploadRequestClick()
{
    const qint64 from = countOf(maskEdFromTime);
    const qint64 to = countOf(maskEdToTime);
    uploadLog_->append(QStringLiteral("UtcFromTime = %1, UtcToTime = %2").arg(from).arg(to));
    const std::uint32_t type = rbUploadDrv->isChecked() ? device::kDataDrv
                               : rbUploadMMV->isChecked() ? device::kDataMmv
                                                          : device::kDataSystemLog;
    // What the status and the sizes said of an earlier request is no longer the news.
    resetProgress();
    current_.reset();
    for (const char* name : {"lbUploadtSize", "lbUploadFileSize", "lbUploadFrameCount", "lbCompareUploadSize",
                             "lbCompareUploadFileSize"})
        control<QLabel>(name)->setText(QStringLiteral("0"));
    if (link_ && link_->sendIfConnected(device::uploadRequest(type, from, to))) {
        ++outstanding_;
        setStatus(QStringLiteral("Waiting Upload Response.."));
    } else {
        setStatus(QStringLiteral("Not connected: nothing was requested."));
    }
}
