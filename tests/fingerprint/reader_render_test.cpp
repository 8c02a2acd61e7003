// `vantera-reader render` and the PNG files it writes, read back by Qt's own PNG reader.
#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>
#include <cstdlib>
#include <string>

#include "fingerprint/finger_random.h"
#include "fingerprint/image/finger_render.h"
#include "fingerprint/image/png_file.h"
#include "tests/fingerprint/qt_app.h"

namespace vantera {
namespace {

struct ReaderRun {
  int exit_code = -1;
  std::string output;
};

ReaderRun Reader(const QStringList& args) {
  QProcess process;
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(VANTERA_READER_EXE, args);
  ReaderRun run;
  if (!process.waitForFinished(60000)) {
    process.kill();
    process.waitForFinished(5000);
    ADD_FAILURE() << "vantera-reader did not finish";
    return run;
  }
  run.output = process.readAll().toStdString();
  run.exit_code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  return run;
}

void ExpectSame(const QImage& read, const GreyImage& image) {
  ASSERT_EQ(read.width(), image.width);
  ASSERT_EQ(read.height(), image.height);
  QImage grey = read.convertToFormat(QImage::Format_Grayscale8);
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x)
      ASSERT_EQ(grey.constScanLine(y)[x], image.at(x, y)) << x << "," << y;
}

TEST(PngFile, QtReadsBackEveryPixel) {
  TestApp();
  // Odd sizes, and one large enough to need several stored deflate blocks.
  FingerRandom rng(5);
  for (auto [w, h] : {std::pair{1, 1}, std::pair{3, 2}, std::pair{301, 257}}) {
    GreyImage image(w, h);
    for (uint8_t& p : image.pixels)
      p = static_cast<uint8_t>(rng.Next());
    Bytes png = EncodePng(image);
    QImage read;
    ASSERT_TRUE(read.loadFromData(reinterpret_cast<const uchar*>(png.data()),
                                  static_cast<int>(png.size()), "PNG"))
        << w << "x" << h;
    ExpectSame(read, image);
  }
}

TEST(ReaderRender, WritesTheImpressionOfTheNamedPlacement) {
  TestApp();
  char dir_template[] = "/tmp/vfp-render-XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;
  const std::string out = dir + "/finger.png";

  ReaderRun ok = Reader({"render", "12345/oikea", "etusormi", "--placement", "7", "--out",
                         QString::fromStdString(out)});
  EXPECT_EQ(ok.exit_code, 0) << ok.output;
  QImage written(QString::fromStdString(out));
  ASSERT_FALSE(written.isNull());
  ExpectSame(written, RenderFinger("12345/oikea etusormi", 7));

  ReaderRun no_out = Reader({"render", "12345/oikea etusormi"});
  EXPECT_EQ(no_out.exit_code, 2);
  EXPECT_NE(no_out.output.find("--out"), std::string::npos) << no_out.output;
  ReaderRun bad =
      Reader({"render", "x", "--placement", "-1", "--out", QString::fromStdString(out)});
  EXPECT_EQ(bad.exit_code, 2);
  ReaderRun no_name = Reader({"render", "--out", QString::fromStdString(out)});
  EXPECT_EQ(no_name.exit_code, 2);
  ReaderRun unwritable =
      Reader({"render", "x", "--out", QString::fromStdString(dir + "/no/such.png")});
  EXPECT_EQ(unwritable.exit_code, 1) << unwritable.output;
  (void)std::system(("rm -rf " + dir).c_str());
}

}  // namespace
}  // namespace vantera
