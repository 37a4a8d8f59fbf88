#include "ui/Unit3.h"

#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QtDebug>

#include "numerics/LxBasics.h"
#include "ui/Dialogs.h"
#include "ui/FormStyle.h"
#include "ui/Jpeg.h"
#include "ui/TireSize.h"

namespace morvex {

namespace {

// Client area: 546 x 436 pixels outside, less a usual window frame.
constexpr int kClientWidth = 538;
constexpr int kClientHeight = 402;

}  // namespace

TForm3::TForm3(QLineEdit* radius_edit, QWidget* parent) : QDialog(parent), radius_edit_(radius_edit) {
  setObjectName(QStringLiteral("Form3"));
  setWindowTitle(QStringLiteral("Tire general info"));
  setFixedSize(kClientWidth, kClientHeight);
  setModal(true);

  // The reference font, 8 points; where it is missing a narrow sans serif
  // keeps the captions inside their controls.
  setFont(FormFont());

  image1_ = new QLabel(this);
  image1_->setObjectName(QStringLiteral("Image1"));
  image1_->setGeometry(0, 0, 537, 345);
  image1_->setScaledContents(true);  // the drawing is stretched to its box
  try {
    image1_->setPixmap(QPixmap::fromImage(LoadJpeg(QStringLiteral(":/images/sidewall.jpg"))));
  } catch (const std::exception& error) {
    // A missing picture must not stop the program; the calculator works without it.
    qWarning("%s", error.what());
  }

  labeled_edit1_ = AddLabeledEdit("LabeledEdit1", QStringLiteral("1 (width - mm)"), 24, 376);
  labeled_edit2_ = AddLabeledEdit("LabeledEdit2", QStringLiteral("2 (Aspect ratio)"), 128, 376);
  labeled_edit3_ = AddLabeledEdit("LabeledEdit3", QStringLiteral("4 (rim diameter - inches)"), 240, 376);

  auto* label1 = new QLabel(QStringLiteral("/"), this);
  label1->setObjectName(QStringLiteral("Label1"));
  label1->move(114, 381);
  auto* label2 = new QLabel(QStringLiteral("R"), this);
  label2->setObjectName(QStringLiteral("Label2"));
  label2->move(216, 381);

  button1_ = new QPushButton(QStringLiteral("(Wheel+tire) radius (m)"), this);
  button1_->setObjectName(QStringLiteral("Button1"));
  button1_->setGeometry(400, 368, 121, 25);
  // Enter in an edit must not close the dialog through a default button.
  button1_->setAutoDefault(false);
  connect(button1_, &QPushButton::clicked, this, &TForm3::Button1Click);

  // Centred on the screen, like every window of the program.
  CentreOnScreen(this, QSize(kClientWidth, kClientHeight));
}

QLineEdit* TForm3::AddLabeledEdit(const char* name, const QString& caption, int left, int top) {
  auto* edit = new QLineEdit(this);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setGeometry(left, top, 81, 21);
  // The caption sits above the edit, as on a labelled edit.
  auto* label = new QLabel(caption, this);
  label->setObjectName(QString::fromLatin1(name) + QStringLiteral("Label"));
  label->setBuddy(edit);
  label->adjustSize();
  label->move(left, top - label->height() - 2);
  return edit;
}

void TForm3::Button1Click() {
  Guarded(this, [this] {
    // Converted in the order of the size code; the first bad text is reported.
    const Extended width = StrToExtended(labeled_edit1_->text().toStdString());
    const Extended aspect = StrToExtended(labeled_edit2_->text().toStdString());
    const Extended rim = StrToExtended(labeled_edit3_->text().toStdString());
    radius_edit_->setText(QString::fromStdString(FloatToStr(WheelRadius(width, aspect, rim))));
    accept();
  });
}

}  // namespace morvex
