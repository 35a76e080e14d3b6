#include "ui/OptPageId3.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QStringList>

#include <cstring>

#include "common/TagInfo.h"
#include "engine/TagPolicy.h"

namespace quelvox::ui {

COptPageId3::COptPageId3(const CSettings& s, COptServices& services, QWidget* parent)
    : COptPage(tr("ID3"), services, parent), binding_(s) {}

void COptPageId3::Build() {
    QGroupBox* group = AddGroup(tr("ID3 标签"));
    auto* g = new QGridLayout(group);

    source_ = new QButtonGroup(this);
    const QString sourceTexts[] = {tr("添加自定义ID3 标签(&A)"), tr("从原始文件传输 ID3 标签(&T)"),
                                   tr("无(&N)")};
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(sourceTexts[i], group);
        radio->setObjectName(QStringLiteral("source%1").arg(i));
        source_->addButton(radio, i);
        g->addWidget(radio, i, 0, 1, 4);
    }

    auto* trackRow = new QHBoxLayout;
    trackRow->addWidget(new QLabel(tr("轨道 #:"), group));
    trackKind_ = new QButtonGroup(this);
    const QString trackTexts[] = {tr("无(&O)"), tr("列表中序号(&S)"), tr("定制(&U)")};
    for (int i = 0; i < 3; ++i) {
        auto* radio = new QRadioButton(trackTexts[i], group);
        radio->setObjectName(QStringLiteral("track%1").arg(i));
        trackKind_->addButton(radio, i);
        trackRow->addWidget(radio);
    }
    trackNumber_ = MakeSpin(1, group);
    trackNumber_->setObjectName("trackNumber");
    trackRow->addWidget(trackNumber_);
    trackRow->addStretch(1);
    g->addLayout(trackRow, 3, 0, 1, 4);

    titleAsFileName_ = new QCheckBox(tr("以文件名命名 (不包括扩展名)(&M)"), group);
    titleAsFileName_->setObjectName("titleAsFileName");
    g->addWidget(titleAsFileName_, 4, 1, 1, 3);

    auto addEdit = [&](const QString& label, const char* name, int row, int column, int span = 1) {
        auto* edit = new QLineEdit(group);
        edit->setObjectName(name);
        auto* l = new QLabel(label, group);
        l->setBuddy(edit);
        g->addWidget(l, row, column);
        g->addWidget(edit, row, column + 1, 1, span);
        return edit;
    };
    title_ = addEdit(tr("标题(&I):"), "title", 5, 0, 3);
    artist_ = addEdit(tr("艺术家(&R):"), "artist", 6, 0);
    album_ = addEdit(tr("专辑(&L):"), "album", 6, 2);
    year_ = addEdit(tr("年份(&Y):"), "year", 7, 0);
    genre_ = new QComboBox(group);
    genre_->setObjectName("genre");
    genre_->setEditable(true);
    genre_->setInsertPolicy(QComboBox::NoInsert);
    QStringList genres;
    for (int i = 0; i < kGenreCount; ++i) {
        const std::string_view name = GenreName(i);
        genres << QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    }
    genres.sort(Qt::CaseInsensitive);
    genre_->addItems(genres);
    auto* genreLabel = new QLabel(tr("流派(&G):"), group);
    genreLabel->setBuddy(genre_);
    g->addWidget(genreLabel, 7, 2);
    g->addWidget(genre_, 7, 3);
    comment_ = addEdit(tr("注释(&C):"), "comment", 8, 0, 3);
    composer_ = addEdit(tr("作曲(&P):"), "composer", 9, 0);
    copyright_ = addEdit(tr("版权(&H):"), "copyright", 9, 2);
    albumArtist_ = addEdit(tr("专辑艺术家(&B):"), "albumArtist", 10, 0);
    disc_ = addEdit(tr("碟片(&D):"), "disc", 10, 2);
    disc_->setPlaceholderText(QStringLiteral("1/2"));

    // The code page of tag text stored as 8-bit bytes without a declared
    // one (ID3v1, Latin-1 ID3v2 frames, RIFF INFO, APE, CUE sheets).
    codePage_ = new QComboBox(group);
    codePage_->setObjectName("codePage");
    for (const char* page : setting::kTagCodePages)
        codePage_->addItem(CodePageName(page), QString::fromLatin1(page));
    auto* codePageLabel = new QLabel(tr("旧式标签的代码页(&E):"), group);
    codePageLabel->setBuddy(codePage_);
    auto* codePageRow = new QHBoxLayout;
    codePageRow->addWidget(codePageLabel);
    codePageRow->addWidget(codePage_);
    codePageRow->addStretch(1);
    g->addLayout(codePageRow, 11, 0, 1, 4);
    g->setColumnStretch(1, 1);
    g->setColumnStretch(3, 1);

    // Stored values outside the choices show as "none"; a custom track
    // number outside 0..255 is brought into range.
    binding_.Bind(source_, setting::ID3TagType, {kTagsCustom, kTagsFromSource, kTagsNone});
    binding_.Bind(trackKind_, setting::TrackNumType);
    binding_.Bind(trackNumber_, setting::CustomTrackNum);
    binding_.Bind(titleAsFileName_, setting::TitleAsFileName);
    binding_.Bind(title_, setting::Title);
    binding_.Bind(artist_, setting::Artist);
    binding_.Bind(album_, setting::Album);
    binding_.Bind(year_, setting::Year);
    binding_.Bind(genre_, setting::Genre);
    binding_.Bind(comment_, setting::Comment);
    binding_.Bind(composer_, setting::Composer);
    binding_.Bind(copyright_, setting::Copyright);
    binding_.Bind(albumArtist_, setting::AlbumArtist);
    binding_.Bind(disc_, setting::Disc);
    binding_.Bind(codePage_, setting::TagCodePage);
    UpdateEnabling();

    connect(source_, &QButtonGroup::idClicked, this, [this] { UpdateEnabling(); });
    connect(trackKind_, &QButtonGroup::idClicked, this, [this](int id) {
        UpdateEnabling();
        if (id == kTrackCustom) trackNumber_->setFocus();
    });
    connect(titleAsFileName_, &QCheckBox::clicked, this, [this] {
        UpdateEnabling();
        title_->setFocus();
    });
}

QString COptPageId3::CodePageName(const char* page) {
    struct Named {
        const char* page;
        QString name;
    };
    const Named names[] = {
        {"auto", tr("自动")},
        {"GB18030", tr("GB18030 (简体中文)")},
        {"BIG5", tr("BIG5 (繁体中文)")},
        {"CP932", tr("CP932 (日文)")},
        {"CP949", tr("CP949 (韩文)")},
        {"WINDOWS-1250", tr("WINDOWS-1250 (中欧)")},
        {"WINDOWS-1251", tr("WINDOWS-1251 (西里尔文)")},
        {"WINDOWS-1252", tr("WINDOWS-1252 (西欧)")},
        {"WINDOWS-1253", tr("WINDOWS-1253 (希腊文)")},
        {"WINDOWS-1254", tr("WINDOWS-1254 (土耳其文)")},
    };
    for (const Named& n : names)
        if (std::strcmp(n.page, page) == 0) return n.name;
    return QString::fromLatin1(page);
}

void COptPageId3::UpdateEnabling() {
    const bool custom = source_->checkedId() == 0;
    for (QAbstractButton* b : trackKind_->buttons()) b->setEnabled(custom);
    titleAsFileName_->setEnabled(custom);
    for (QWidget* w : std::initializer_list<QWidget*>{artist_, album_, year_, genre_, comment_,
                                                      composer_, copyright_, albumArtist_,
                                                      disc_})
        w->setEnabled(custom);
    trackNumber_->setEnabled(custom && trackKind_->checkedId() == kTrackCustom);
    title_->setEnabled(custom && !titleAsFileName_->isChecked());
}

bool COptPageId3::OnLeave() {
    binding_.Take();
    return true;
}

void COptPageId3::OnApply() { binding_.Take(); }

void COptPageId3::StoreTo(CSettings& s, std::vector<OutputFormatEntry>&) const {
    binding_.StoreTo(s);
}

}  // namespace quelvox::ui
