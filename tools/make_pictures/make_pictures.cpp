// Draws the two pictures of the auxiliary windows and writes them as JPEG
// files into the folder given on the command line:
//
//   sidewall.jpg    425 x 304  the tire size calculator's drawing: a tire seen
//                              from the side, with the size code
//                              "205/55 R 16 88 V" and a tread name on its
//                              sidewall and numbered callouts 1 to 7
//   waitscreen.jpg  203 x 397  the wait screen's portrait: a seated figure
//                              deep in thought on a pedestal, "Fitting..."
//
// The program does not run at build time: the pictures are committed under
// ui/images/ and this tool only remakes them after a change to the drawing
// (see tools/make_pictures/README.md).  It draws with QPainter into a QImage
// and encodes with libjpeg directly, the same library that decodes them.
#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

#include <jpeglib.h>

#include <QDir>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace {

constexpr double kPi = std::numbers::pi;

// ------------------------------------------------------------------ encoding

bool WriteJpeg(const QImage& picture, const QString& file_name, int quality) {
  const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
  FILE* out = std::fopen(QFile::encodeName(file_name).constData(), "wb");
  if (out == nullptr) return false;
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);  // a build tool may stop on a libjpeg error
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, out);
  cinfo.image_width = static_cast<JDIMENSION>(rgb.width());
  cinfo.image_height = static_cast<JDIMENSION>(rgb.height());
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  // Full-resolution chroma keeps the thin coloured callout lines sharp.
  cinfo.comp_info[0].h_samp_factor = 1;
  cinfo.comp_info[0].v_samp_factor = 1;
  cinfo.optimize_coding = TRUE;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(rgb.constScanLine(static_cast<int>(cinfo.next_scanline)));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return std::fclose(out) == 0;
}

// ------------------------------------------------------- text along an arc

QPointF Polar(QPointF centre, double radius, double angle) {
  return centre + QPointF(radius * std::cos(angle), radius * std::sin(angle));
}

// One run of characters written along a circle, clockwise, with its baseline
// at `radius`.  Remembers the angle at the middle of each segment so that
// callouts can point at it.
struct ArcText {
  QPointF centre;
  double radius;
  QFont font;
  std::vector<QString> segments;
  std::vector<double> segment_angles;  // filled by Draw

  double Width() const {
    QFontMetricsF metrics(font);
    double width = 0;
    for (const QString& s : segments) width += metrics.horizontalAdvance(s);
    return width;
  }

  // Writes the text centred on `mid_angle` (radians; -pi/2 is straight up).
  void Draw(QPainter& p, double mid_angle, const QColor& face, const QColor& shadow,
            const QColor& light) {
    QFontMetricsF metrics(font);
    p.setFont(font);
    double angle = mid_angle - Width() / 2 / radius;
    segment_angles.clear();
    for (const QString& segment : segments) {
      const double start = angle;
      for (const QChar c : segment) {
        const double advance = metrics.horizontalAdvance(c);
        const double centre_angle = angle + advance / 2 / radius;
        p.save();
        p.translate(Polar(centre, radius, centre_angle));
        p.rotate((centre_angle + kPi / 2) * 180 / kPi);
        const QPointF origin(-advance / 2, 0);
        // Moulded rubber letters: a dark edge below, a light edge above.
        p.setPen(shadow);
        p.drawText(origin + QPointF(1.2, 1.4), QString(c));
        p.setPen(light);
        p.drawText(origin + QPointF(-0.6, -0.7), QString(c));
        p.setPen(face);
        p.drawText(origin, QString(c));
        p.restore();
        angle += advance / radius;
      }
      segment_angles.push_back((start + angle) / 2);
    }
  }
};

void DrawCallout(QPainter& p, QPointF bubble, QPointF target, int number) {
  p.setPen(QPen(QColor(255, 214, 64), 1.6));
  p.drawLine(bubble, target);
  p.setBrush(QColor(255, 214, 64));
  p.setPen(QPen(QColor(40, 30, 0), 1.2));
  p.drawEllipse(bubble, 9.5, 9.5);
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(13);
  font.setBold(true);
  p.setFont(font);
  p.setPen(QColor(20, 20, 20));
  p.drawText(QRectF(bubble.x() - 10, bubble.y() - 10, 20, 20), Qt::AlignCenter, QString::number(number));
}

// ----------------------------------------------------------- the sidewall

QImage DrawSidewall() {
  constexpr int kWidth = 425;
  constexpr int kHeight = 304;
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  QLinearGradient sky(0, 0, 0, kHeight);
  sky.setColorAt(0, QColor(226, 236, 242));
  sky.setColorAt(1, QColor(190, 206, 216));
  p.fillRect(image.rect(), sky);

  // The tire's centre lies far below the picture: we see the top of the
  // wheel, where the sidewall marking is read.
  const QPointF centre(212, 640);
  constexpr double kOuter = 600;     // tread surface
  constexpr double kShoulder = 572;  // end of the tread blocks
  constexpr double kBead = 370;      // where the rubber meets the rim
  constexpr double kRimLip = 355;

  // Tread band with its blocks and grooves.
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(28, 28, 30));
  p.drawEllipse(centre, kOuter, kOuter);
  p.setPen(QPen(QColor(62, 62, 66), 2.2));
  for (double a = -kPi; a < 0; a += kPi / 180 * 1.9) {
    p.drawLine(Polar(centre, kShoulder + 2, a), Polar(centre, kOuter - 1, a + 0.006));
  }
  p.setPen(QPen(QColor(12, 12, 12), 1.5));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(centre, kOuter - 10, kOuter - 10);

  // Sidewall: a soft radial shade makes it read as a rounded surface.
  QRadialGradient wall(centre, kShoulder);
  wall.setColorAt(kBead / kShoulder, QColor(34, 34, 36));
  wall.setColorAt((kBead + kShoulder) / 2 / kShoulder, QColor(58, 58, 62));
  wall.setColorAt(1, QColor(40, 40, 43));
  p.setPen(QPen(QColor(16, 16, 16), 2));
  p.setBrush(wall);
  p.drawEllipse(centre, kShoulder, kShoulder);

  // A thin moulded ring near the bead, as on real tires.
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(74, 74, 78), 1.5));
  p.drawEllipse(centre, kBead + 22, kBead + 22);

  // Rim: a polished flange and the darker wheel face inside it.
  QRadialGradient rim(centre, kBead);
  rim.setColorAt(0.90, QColor(120, 126, 134));
  rim.setColorAt(0.955, QColor(214, 220, 226));
  rim.setColorAt(0.985, QColor(150, 156, 164));
  rim.setColorAt(1.0, QColor(96, 100, 106));
  p.setPen(Qt::NoPen);
  p.setBrush(rim);
  p.drawEllipse(centre, kBead, kBead);
  p.setPen(QPen(QColor(70, 74, 80), 1.2));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(centre, kRimLip, kRimLip);

  const QColor face(176, 176, 180);
  const QColor shadow(8, 8, 8);
  const QColor light(112, 112, 118);

  // The size code, with one callout per part.
  QFont code_font(QStringLiteral("DejaVu Sans"));
  code_font.setPixelSize(31);
  code_font.setBold(true);
  ArcText code{centre, 468, code_font,
               {"205", "/", "55", " ", "R", " ", "16", " ", "88", " ", "V"}, {}};
  code.Draw(p, -kPi / 2, face, shadow, light);

  // Small print around it, for the look of a real sidewall.
  QFont small_font(QStringLiteral("DejaVu Sans"));
  small_font.setPixelSize(11);
  small_font.setBold(true);
  ArcText left_print{centre, 500, small_font, {"TUBELESS"}, {}};
  left_print.Draw(p, -kPi / 2 - 0.355, face.darker(115), shadow, light);
  ArcText right_print{centre, 500, small_font, {"RADIAL"}, {}};
  right_print.Draw(p, -kPi / 2 + 0.355, face.darker(115), shadow, light);

  // The tread name, lower on the sidewall.
  QFont name_font(QStringLiteral("DejaVu Sans"));
  name_font.setPixelSize(19);
  name_font.setBold(true);
  name_font.setItalic(true);
  name_font.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
  ArcText name{centre, 410, name_font, {"AQUATRAX SPORT"}, {}};
  name.Draw(p, -kPi / 2 + 0.02, face, shadow, light);

  // Callouts: bubbles just outside the letters, in the tread band for the
  // code and beside the name for the tread name.
  const int code_segment_of[7] = {0, 2, 4, 6, 8, 10};
  QFontMetricsF code_metrics(code_font);
  const double cap = code_metrics.capHeight();
  for (int i = 0; i < 6; ++i) {
    const double a = code.segment_angles[static_cast<size_t>(code_segment_of[i])];
    // Stagger the narrow neighbours so the bubbles do not touch.
    const double bubble_radius = (i == 2 || i == 5) ? 544 : 530;
    DrawCallout(p, Polar(centre, bubble_radius, a), Polar(centre, 468 + cap + 1, a), i + 1);
  }
  const double name_end = -kPi / 2 + 0.02 + name.Width() / 2 / 410;
  DrawCallout(p, Polar(centre, 400, name_end + 0.075), Polar(centre, 406, name_end + 0.012), 7);

  // The legend, in the clear corners above the wheel.
  QFont legend_font(QStringLiteral("DejaVu Sans"));
  legend_font.setPixelSize(10);
  p.setFont(legend_font);
  p.setPen(QColor(30, 42, 52));
  p.drawText(QPointF(5, 11), QStringLiteral("1 width (mm)"));
  p.drawText(QPointF(5, 22), QStringLiteral("2 aspect ratio (%)"));
  p.drawText(QPointF(5, 33), QStringLiteral("3 radial construction"));
  p.drawText(QPointF(5, 44), QStringLiteral("4 rim diameter (in)"));
  const double right = kWidth - 5;
  QFontMetricsF legend_metrics(legend_font);
  const QString lines[3] = {QStringLiteral("5 load index"), QStringLiteral("6 speed rating"),
                            QStringLiteral("7 tread name")};
  for (int i = 0; i < 3; ++i) {
    p.drawText(QPointF(right - legend_metrics.horizontalAdvance(lines[i]), 11 + 11 * i), lines[i]);
  }
  p.end();
  return image;
}

// ------------------------------------------------------ the wait screen

// A thick limb with round ends, shaded along its length.
void Limb(QPainter& p, QPointF from, QPointF to, double width, const QColor& colour) {
  QLinearGradient shade(from, to);
  shade.setColorAt(0, colour.lighter(112));
  shade.setColorAt(1, colour.darker(108));
  p.setPen(QPen(QBrush(shade), width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(from, to);
}

QImage DrawWaitScreen() {
  constexpr int kWidth = 203;
  constexpr int kHeight = 397;
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  QLinearGradient sky(0, 0, 0, kHeight);
  sky.setColorAt(0, QColor(22, 46, 70));
  sky.setColorAt(0.62, QColor(64, 128, 128));
  sky.setColorAt(1, QColor(20, 40, 44));
  p.fillRect(image.rect(), sky);

  // A pale halo behind the figure.
  QRadialGradient halo(QPointF(104, 190), 110);
  halo.setColorAt(0, QColor(160, 204, 204, 150));
  halo.setColorAt(1, QColor(160, 204, 204, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(halo);
  p.drawEllipse(QPointF(104, 190), 110, 110);

  // Title.
  QFont title(QStringLiteral("DejaVu Serif"));
  title.setPixelSize(22);
  title.setBold(true);
  p.setFont(title);
  p.setPen(QColor(238, 232, 214));
  p.drawText(QRectF(0, 14, kWidth, 30), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("Fitting..."));
  QFont subtitle(QStringLiteral("DejaVu Sans"));
  subtitle.setPixelSize(11);
  p.setFont(subtitle);
  p.setPen(QColor(200, 214, 214));
  p.drawText(QRectF(0, 42, kWidth, 16), Qt::AlignHCenter | Qt::AlignVCenter, QStringLiteral("please wait"));

  // Pedestal.
  QLinearGradient stone(0, 292, 0, 342);
  stone.setColorAt(0, QColor(196, 192, 182));
  stone.setColorAt(1, QColor(120, 116, 108));
  p.setBrush(stone);
  p.setPen(QPen(QColor(70, 66, 60), 1));
  p.drawRect(QRectF(34, 300, 136, 42));
  p.setBrush(QColor(212, 208, 198));
  p.drawRect(QRectF(26, 290, 152, 11));
  p.drawRect(QRectF(26, 342, 152, 9));

  // The figure, seated on a rock and facing left, elbow on knee, chin on hand.
  const QColor bronze(148, 104, 52);
  const QColor bronze_far = bronze.darker(135);
  p.setBrush(QColor(84, 88, 84));
  p.setPen(Qt::NoPen);
  QPainterPath rock;
  rock.moveTo(86, 290);
  rock.cubicTo(86, 262, 104, 236, 132, 234);
  rock.cubicTo(156, 232, 170, 256, 170, 290);
  rock.closeSubpath();
  p.drawPath(rock);

  const QPointF hip(128, 230);
  const QPointF knee(64, 212);
  const QPointF ankle(82, 282);
  const QPointF toe(62, 287);
  const QPointF knee_far(80, 222);
  const QPointF ankle_far(102, 284);
  const QPointF toe_far(84, 289);
  const QPointF shoulder(102, 152);
  const QPointF elbow(70, 204);
  const QPointF fist(66, 147);
  const QPointF head(76, 126);

  // Far leg and far arm first, a shade darker; the far forearm hangs over
  // the knee.
  Limb(p, hip + QPointF(6, -2), knee_far, 22, bronze_far);
  Limb(p, knee_far, ankle_far, 16, bronze_far);
  Limb(p, ankle_far, toe_far, 10, bronze_far);
  Limb(p, shoulder + QPointF(14, 2), QPointF(98, 212), 13, bronze_far);
  Limb(p, QPointF(98, 212), QPointF(74, 236), 11, bronze_far);

  // Torso: bent forward over the knees, with a rounded back.
  QPainterPath torso;
  torso.moveTo(148, 238);
  torso.cubicTo(QPointF(150, 200), QPointF(146, 160), QPointF(126, 136));
  torso.cubicTo(QPointF(116, 128), QPointF(98, 134), QPointF(94, 148));
  torso.cubicTo(QPointF(96, 172), QPointF(102, 204), QPointF(110, 238));
  torso.closeSubpath();
  QLinearGradient torso_shade(QPointF(150, 150), QPointF(96, 200));
  torso_shade.setColorAt(0, bronze.lighter(125));
  torso_shade.setColorAt(1, bronze.darker(112));
  p.setPen(Qt::NoPen);
  p.setBrush(torso_shade);
  p.drawPath(torso);

  // Near leg.
  Limb(p, hip, knee, 25, bronze);
  Limb(p, knee, ankle, 18, bronze);
  Limb(p, ankle, toe, 11, bronze);

  // Neck and head, bowed over the hand.
  Limb(p, head + QPointF(8, 8), QPointF(104, 146), 13, bronze);
  QRadialGradient head_shade(head + QPointF(5, -6), 18);
  head_shade.setColorAt(0, bronze.lighter(140));
  head_shade.setColorAt(1, bronze.darker(110));
  p.setPen(Qt::NoPen);
  p.setBrush(head_shade);
  p.drawEllipse(head, 15, 16.5);

  // Near arm: upper arm down to the knee, forearm up to the chin.
  Limb(p, shoulder, elbow, 15, bronze);
  Limb(p, elbow, fist, 12.5, bronze);
  p.setPen(Qt::NoPen);
  p.setBrush(bronze.lighter(110));
  p.drawEllipse(fist + QPointF(0, -1), 8.5, 7.5);

  // A little glint on the bronze.
  p.setPen(QPen(QColor(232, 200, 150, 150), 2, Qt::SolidLine, Qt::RoundCap));
  p.drawArc(QRectF(head.x() - 10, head.y() - 12, 20, 20), 40 * 16, 70 * 16);

  // The bottom band stays plain: the wait screen writes its progress line there.
  p.fillRect(QRectF(0, 362, kWidth, kHeight - 362), QColor(14, 30, 34));
  p.setPen(QColor(64, 128, 128));
  p.drawLine(QPointF(0, 362), QPointF(kWidth, 362));
  p.end();
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  if (!folder.exists()) {
    std::fprintf(stderr, "no such folder: %s\n", argv[1]);
    return 1;
  }
  const struct {
    QImage image;
    const char* name;
  } pictures[] = {{DrawSidewall(), "sidewall.jpg"}, {DrawWaitScreen(), "waitscreen.jpg"}};
  for (const auto& picture : pictures) {
    const QString path = folder.filePath(QString::fromLatin1(picture.name));
    if (!WriteJpeg(picture.image, path, 90)) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      return 1;
    }
    std::printf("wrote %s (%d x %d)\n", qPrintable(path), picture.image.width(), picture.image.height());
  }
  return 0;
}
