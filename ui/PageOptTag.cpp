#include "ui/PageOptTag.h"

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

#include <algorithm>

#include "common/TagInfo.h"

namespace quelvox::ui {

namespace {

constexpr int kMaxTrackNumber = 255;

}  // namespace

CPageOptID3::CPageOptID3(const CSettings& s, COptServices& services, QWidget* parent)
    : COptPage(tr("ID3"), services, parent) {
    v_.ID3TagType = s.ID3TagType;
    v_.TrackNumType = s.TrackNumType;
    v_.CustomTrackNum = s.CustomTrackNum;
    v_.TitleAsFileName = s.TitleAsFileName;
    v_.Title = s.Title;
    v_.Artist = s.Artist;
    v_.Album = s.Album;
    v_.Year = s.Year;
    v_.Genre = s.Genre;
    v_.Comment = s.Comment;
    v_.Composer = s.Composer;
    v_.Copyright = s.Copyright;
}

void CPageOptID3::Build() {
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
    trackNumber_ = MakeSpin(0, kMaxTrackNumber, 1, group);
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
    g->setColumnStretch(1, 1);
    g->setColumnStretch(3, 1);

    // Stored values outside the choices show as "none"; a custom track
    // number outside 0..255 is brought into range.
    source_->button(v_.ID3TagType == 1 ? 0 : v_.ID3TagType == 2 ? 1 : 2)->setChecked(true);
    trackKind_->button(v_.TrackNumType >= 0 && v_.TrackNumType <= 2 ? v_.TrackNumType : 0)
        ->setChecked(true);
    trackNumber_->setValue(std::clamp(v_.CustomTrackNum, 0, kMaxTrackNumber));
    titleAsFileName_->setChecked(v_.TitleAsFileName != 0);
    title_->setText(FromStd(v_.Title));
    artist_->setText(FromStd(v_.Artist));
    album_->setText(FromStd(v_.Album));
    year_->setText(FromStd(v_.Year));
    genre_->setEditText(FromStd(v_.Genre));
    comment_->setText(FromStd(v_.Comment));
    composer_->setText(FromStd(v_.Composer));
    copyright_->setText(FromStd(v_.Copyright));
    UpdateEnabling();

    connect(source_, &QButtonGroup::idClicked, this, [this] { UpdateEnabling(); });
    connect(trackKind_, &QButtonGroup::idClicked, this, [this](int id) {
        UpdateEnabling();
        if (id == 2) trackNumber_->setFocus();
    });
    connect(titleAsFileName_, &QCheckBox::clicked, this, [this] {
        UpdateEnabling();
        title_->setFocus();
    });
}

void CPageOptID3::UpdateEnabling() {
    const bool custom = source_->checkedId() == 0;
    for (QAbstractButton* b : trackKind_->buttons()) b->setEnabled(custom);
    titleAsFileName_->setEnabled(custom);
    for (QWidget* w : std::initializer_list<QWidget*>{artist_, album_, year_, genre_, comment_,
                                                      composer_, copyright_})
        w->setEnabled(custom);
    trackNumber_->setEnabled(custom && trackKind_->checkedId() == 2);
    title_->setEnabled(custom && !titleAsFileName_->isChecked());
}

void CPageOptID3::TakeControls() {
    trackNumber_->interpretText();
    const int source = source_->checkedId();
    v_.ID3TagType = source == 0 ? 1 : source == 1 ? 2 : 0;
    v_.TrackNumType = trackKind_->checkedId();
    v_.CustomTrackNum = trackNumber_->value();
    v_.TitleAsFileName = titleAsFileName_->isChecked() ? 1 : 0;
    v_.Title = ToStd(title_->text());
    v_.Artist = ToStd(artist_->text());
    v_.Album = ToStd(album_->text());
    v_.Year = ToStd(year_->text());
    v_.Genre = ToStd(genre_->currentText());
    v_.Comment = ToStd(comment_->text());
    v_.Composer = ToStd(composer_->text());
    v_.Copyright = ToStd(copyright_->text());
}

bool CPageOptID3::OnLeave() {
    TakeControls();
    return true;
}

void CPageOptID3::OnApply() { TakeControls(); }

void CPageOptID3::StoreTo(CSettings& s, std::vector<OutputFormatEntry>&) const {
    s.ID3TagType = v_.ID3TagType;
    s.TrackNumType = v_.TrackNumType;
    s.CustomTrackNum = v_.CustomTrackNum;
    s.TitleAsFileName = v_.TitleAsFileName;
    s.Title = v_.Title;
    s.Artist = v_.Artist;
    s.Album = v_.Album;
    s.Year = v_.Year;
    s.Genre = v_.Genre;
    s.Comment = v_.Comment;
    s.Composer = v_.Composer;
    s.Copyright = v_.Copyright;
}

}  // namespace quelvox::ui
