// The About box and its link.
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QStyle>
#include <QUrl>

#include "worva.h"
#include "zentra/format.h"
#include "zentra/version.h"

namespace worva {

CHyperLink::CHyperLink(QWidget* parent) : QLabel(parent) {
    setCursor(Qt::PointingHandCursor);
    setAlignment(Qt::AlignCenter);
    UpdateLook();
}

void CHyperLink::SetURL(const QString& url) {
    m_strURL = url;
    if (text().isEmpty()) setText(url);
    setToolTip(url);
    adjustSize();
}

void CHyperLink::UpdateLook() {
    const QColor colour = m_bOver ? QColor(255, 0, 0) : m_bVisited ? QColor(85, 26, 139) : QColor(0, 0, 238);
    QPalette palette = this->palette();
    palette.setColor(QPalette::WindowText, colour);
    setPalette(palette);
    QFont font = this->font();
    font.setUnderline(m_bOver != 0);
    setFont(font);
}

void CHyperLink::enterEvent(QEnterEvent* event) {
    QLabel::enterEvent(event);
    m_bOver = 1;
    UpdateLook();
}

void CHyperLink::leaveEvent(QEvent* event) {
    QLabel::leaveEvent(event);
    m_bOver = 0;
    UpdateLook();
}

void CHyperLink::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton) return;
    m_bOver = 0;
    const QUrl url(m_strURL.isEmpty() ? text() : m_strURL);
    QString why = WhyNotOpened(url, true);
    if (why.isEmpty()) why = WhyNotOpened(url, QDesktopServices::openUrl(url));
    if (why.isEmpty()) {
        m_bVisited = 1;
        UpdateLook();
    } else {
        QApplication::beep();
        QMessageBox::warning(this, LoadQString(AFX_IDS_APP_TITLE),
                             QStringLiteral("Unable to open hyperlink:\n\n") + why);
        UpdateLook();
    }
}

QString CHyperLink::WhyNotOpened(const QUrl& url, bool opened) {
    if (url.isLocalFile()) {
        const QFileInfo file(url.toLocalFile());
        if (!file.dir().exists()) return ErrorText(3) + QStringLiteral("\n") + file.absolutePath();
        if (!file.exists()) return ErrorText(2) + QStringLiteral("\n") + file.absoluteFilePath();
        if (!file.isReadable()) return ErrorText(5) + QStringLiteral("\n") + file.absoluteFilePath();
    }
    if (opened) return QString();
    // The desktop gives no reason for a failure; the likely ones can be told apart.
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty())
        return QStringLiteral("No program to open links with was found\n(xdg-open is not installed).");
    return QStringLiteral("The desktop has no program that opens\n") + url.toDisplayString();
}

QString CHyperLink::ErrorText(int code) {
    switch (code) {
    case 0: return QStringLiteral("The operating system is out\nof memory or resources.");
    case 2: return QStringLiteral("The specified file was not found.");
    case 3: return QStringLiteral("The specified path was not found.");
    case 5: return QStringLiteral("The operating system denied\naccess to the specified file.");
    case 8: return QStringLiteral("There was not enough memory to complete the operation.");
    case 11: return QStringLiteral("The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image).");
    case 26: return QStringLiteral("A sharing violation occurred. ");
    case 27: return QStringLiteral("The filename association is\nincomplete or invalid.");
    case 28: return QStringLiteral("The DDE transaction could not\nbe completed because the request timed out.");
    case 29: return QStringLiteral("The DDE transaction failed.");
    case 30:
        return QStringLiteral(
            "The DDE transaction could not\nbe completed because other DDE transactions\nwere being processed.");
    case 31: return QStringLiteral("There is no application associated\nwith the given filename extension.");
    case 32: return QStringLiteral("The specified dynamic-link library was not found.");
    default: return ToQString(zentra::Format(L"Unknown Error (%d) occurred.", code));
    }
}

QString CAboutDlg::VersionText() {
    QString version = ToQString(zentra::CAppVersionInfo::GetVersionInfo(nullptr, L"ProductVersion"));
    version.remove(QLatin1Char(' '));
    version.replace(QLatin1Char(','), QLatin1Char('.'));
    return version;
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("About Orvanta"));
    setObjectName(QStringLiteral("AboutDialog"));
    setWindowIcon(AppIcon());
    auto* icon = new QLabel(this);
    icon->setPixmap(AppIcon().pixmap(48, 48));
    if (icon->pixmap().isNull()) icon->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(48, 48));
    m_pVersion = new QLabel(this);
    m_pVersion->setAlignment(Qt::AlignCenter);
    m_pVersion->setTextFormat(Qt::PlainText);
    const QString format = QStringLiteral("Orvanta Windows\nVersion %s");
    m_pVersion->setText(ToQString(zentra::Format(FromQString(format).c_str(), FromQString(VersionText()))));
    m_pLink = new CHyperLink(this);
    m_pLink->setText(tr("Read me"));
    m_pLink->SetURL(HomePage());
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    buttons->setCenterButtons(true);
    auto* grid = new QGridLayout(this);
    grid->setHorizontalSpacing(16);
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(m_pVersion, 0, 1);
    grid->addWidget(m_pLink, 1, 1, Qt::AlignCenter);
    grid->addWidget(buttons, 2, 0, 1, 2);
    // Wide enough for its title beside the title bar's buttons, and never narrower than the
    // text: the layout keeps the dialog at least at its contents' size.
    grid->setSizeConstraint(QLayout::SetFixedSize);
    const QFontMetrics title(QApplication::font("QMdiSubWindowTitleBar"));
    icon->setMinimumWidth(48);
    m_pVersion->setMinimumWidth(
        std::max(m_pVersion->sizeHint().width(), title.horizontalAdvance(windowTitle()) + 120 - 48 - 16));
}

}  // namespace worva
