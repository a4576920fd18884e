// The connect dialog: the DBMS type from the catalogue and the connection values, pre-filled from
// the last connection or from the type's defaults.
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <tuple>

#include "worva.h"
#include "zentra/catalogue.h"
#include "zentra/settings.h"
#include "zentra/strtable.h"

namespace worva {

namespace {

const zentra::CONNECT_STRING_CONFIG* FindRow(std::uint32_t type) {
    for (const auto& row : zentra::g_ConnConfs)
        if (static_cast<std::uint32_t>(row.nType) == type) return &row;
    return nullptr;
}

// The leading decimal digits of a text as a number, 0 when there are none.
int LeadingNumber(const QString& text) {
    long long value = 0;
    for (QChar c : text.trimmed()) {
        if (!c.isDigit() || c.unicode() > '9') break;
        value = value * 10 + (c.unicode() - '0');
        if (value > 0x7fffffff) return 0x7fffffff;
    }
    return static_cast<int>(value);
}

constexpr std::uint32_t kTypeDbase = 10;
constexpr std::uint32_t kTypeText = 13;

}  // namespace

// The up-down arrows beside the port, as the keys Up and Down.
QWidget* CConnectDlg::CreatePortArrows() {
    auto* arrows = new QWidget(this);
    auto* arrowBox = new QVBoxLayout(arrows);
    arrowBox->setContentsMargins(0, 0, 0, 0);
    arrowBox->setSpacing(0);
    for (auto [name, arrow, step] : {std::tuple{"PortUp", Qt::UpArrow, 1}, std::tuple{"PortDown", Qt::DownArrow, -1}}) {
        auto* button = new QToolButton(arrows);
        button->setObjectName(QLatin1String(name));
        button->setArrowType(arrow);
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setFixedSize(18, 12);
        arrowBox->addWidget(button);
        connect(button, &QToolButton::clicked, this, [this, step = step] { StepPort(step); });
    }
    return arrows;
}

// The labelled fields in a grid, and the Connect and Cancel buttons.
void CConnectDlg::LayOut(QWidget* arrows) {
    auto* grid = new QGridLayout(this);
    auto addRow = [&](int row, const QString& text, QWidget* field, QWidget* extra = nullptr) {
        auto* label = new QLabel(text, this);
        label->setAlignment(row == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignRight | Qt::AlignVCenter);
        label->setBuddy(field);
        grid->addWidget(label, row, 0);
        if (extra) {
            auto* box = new QHBoxLayout;
            box->addWidget(field, 1);
            box->addWidget(extra);
            grid->addLayout(box, row, 1);
        } else {
            grid->addWidget(field, row, 1);
        }
    };
    addRow(0, tr("DBMS Type:"), m_pType);
    addRow(1, tr("Host/Server:"), m_pHost);
    {
        auto* portRow = new QWidget(this);
        auto* portBox = new QHBoxLayout(portRow);
        portBox->setContentsMargins(0, 0, 0, 0);
        portBox->setSpacing(1);
        portBox->addWidget(m_pPort);
        portBox->addWidget(arrows);
        portBox->addStretch(1);
        addRow(2, tr("Port:"), portRow);
        static_cast<QLabel*>(grid->itemAtPosition(2, 0)->widget())->setBuddy(m_pPort);
    }
    addRow(3, tr("UserName:"), m_pUser);
    addRow(4, tr("Password:"), m_pPassword);
    addRow(5, tr("Database:"), m_pDatabase, m_pBrowse);
    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(tr("Connect"), QDialogButtonBox::AcceptRole);
    ok->setDefault(true);
    buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    buttons->setCenterButtons(true);
    grid->addWidget(buttons, 6, 0, 1, 2);
    connect(buttons, &QDialogButtonBox::accepted, this, &CConnectDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CConnectDlg::reject);
    connect(m_pBrowse, &QPushButton::clicked, this, &CConnectDlg::OnBrowse);
    m_pPort->setFixedWidth(m_pPort->fontMetrics().horizontalAdvance(QStringLiteral("000000")) + 16);
}

// The list of types sorted by name, each item carrying its type id; the last connection's
// fields when its type is in the list.
void CConnectDlg::FillTypes() {
    zentra::CSetting settings;
    if (m_Params.nType == 0) m_Params.nType = settings.GetServerType();
    int fileDatabase = 0;
    QList<QPair<QString, std::uint32_t>> items;
    for (const auto& row : zentra::g_ConnConfs) {
        items.append({ToQString(row.strName), static_cast<std::uint32_t>(row.nType)});
        if (static_cast<std::uint32_t>(row.nType) == m_Params.nType) fileDatabase = row.bFileDatabase;
    }
    std::stable_sort(items.begin(), items.end(),
                     [](const auto& a, const auto& b) { return a.first.compare(b.first, Qt::CaseInsensitive) < 0; });
    for (const auto& item : items) m_pType->addItem(item.first, QVariant::fromValue<uint>(item.second));

    const int found = m_pType->findData(QVariant::fromValue<uint>(m_Params.nType));
    if (found >= 0) {
        m_pType->setCurrentIndex(found);
        m_pHost->setText(ToQString(settings.GetServerHost()));
        m_pPort->setText(QString::number(settings.GetServerPort()));
        m_pUser->setText(ToQString(settings.GetUserName()));
        m_pDatabase->setText(ToQString(settings.GetDatabase()));
        m_pPassword->clear();
        m_pBrowse->setEnabled(fileDatabase != 0);
    } else {
        m_pType->setCurrentIndex(0);
        OnTypeChange();
    }
}

CConnectDlg::CConnectDlg(const CONNECT_PARAMS& params, QWidget* parent) : QDialog(parent), m_Params(params) {
    setWindowTitle(tr("Connect"));
    setObjectName(QStringLiteral("ConnectDialog"));
    m_pType = new QComboBox(this);
    m_pHost = new QLineEdit(this);
    m_pPort = new QLineEdit(this);
    m_pPort->setValidator(new QIntValidator(0, 65535, m_pPort));
    m_pPort->installEventFilter(this);  // Up and Down step the number
    QWidget* arrows = CreatePortArrows();
    m_pUser = new QLineEdit(this);
    m_pPassword = new QLineEdit(this);
    m_pPassword->setEchoMode(QLineEdit::Password);
    m_pDatabase = new QLineEdit(this);
    m_pBrowse = new QPushButton(QStringLiteral("..."), this);
    m_pBrowse->setMaximumWidth(m_pBrowse->fontMetrics().horizontalAdvance(QStringLiteral("...")) * 3);

    LayOut(arrows);
    FillTypes();
    connect(m_pType, &QComboBox::currentIndexChanged, this, [this] { OnTypeChange(); });
}

bool CConnectDlg::SelectType(std::uint32_t type) {
    const int index = m_pType->findData(QVariant::fromValue<uint>(type));
    if (index < 0) return false;
    m_pType->setCurrentIndex(index);
    return true;
}

void CConnectDlg::OnTypeChange() {
    const auto* row = FindRow(m_pType->currentData().toUInt());
    if (!row) {
        m_pBrowse->setEnabled(false);
        return;
    }
    m_pHost->setText(ToQString(row->strHost));
    m_pPort->setText(row->nPort > 0 ? QString::number(row->nPort) : QString());
    m_pUser->setText(ToQString(row->strUser));
    m_pPassword->setText(ToQString(row->strPassword));
    m_pDatabase->setText(ToQString(row->strDatabase));
    m_pBrowse->setEnabled(row->bFileDatabase != 0);
}

void CConnectDlg::OnBrowse() {
    const std::uint32_t type = m_pType->currentData().toUInt();
    if (type == kTypeDbase || type == kTypeText) {
        // These name a folder of tables.
        QFileDialog dialog(this, LoadQString(IDS_SEARCH_FOLDER), m_pDatabase->text());
        dialog.setObjectName(QStringLiteral("BrowseFolderDialog"));
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            m_pDatabase->setText(dialog.selectedFiles().first());
        return;
    }
    zentra::CString filter;
    if (const auto* row = FindRow(type)) filter = row->strFileFilter;
    filter += zentra::LoadString(IDS_ALL_FILES_FILTER);
    // The browser starts in the folder of the file named in the field, if there is one.
    QString start;
    if (!m_pDatabase->text().isEmpty()) {
        const QFileInfo named(m_pDatabase->text());
        start = named.isDir() ? named.absoluteFilePath() : named.absolutePath();
    }
    QFileDialog dialog(this, tr("Open"), start);
    dialog.setObjectName(QStringLiteral("BrowseFileDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::AnyFile);  // a database file may be created by connecting
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(FilterToNameFilters(filter));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
        m_pDatabase->setText(dialog.selectedFiles().first());
}

void CConnectDlg::accept() {
    zentra::CSetting settings;
    m_Params.nType = m_pType->currentData().toUInt();
    settings.SetServerType(m_Params.nType);
    m_Params.strHost = FromQString(m_pHost->text());
    settings.SetServerHost(m_Params.strHost.c_str());
    m_Params.nPort = LeadingNumber(m_pPort->text());
    settings.SetServerPort(m_Params.nPort);
    m_Params.strUser = FromQString(m_pUser->text());
    settings.SetUserName(m_Params.strUser.c_str());
    m_Params.strPassword = FromQString(m_pPassword->text());
    m_Params.strDatabase = FromQString(m_pDatabase->text());
    settings.SetDatabase(m_Params.strDatabase.c_str());
    QDialog::accept();
}

void CConnectDlg::StepPort(int step) {
    const int value = LeadingNumber(m_pPort->text()) + step;
    m_pPort->setText(QString::number(std::clamp(value, 0, 65535)));
}

bool CConnectDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pPort && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            StepPort(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace worva
