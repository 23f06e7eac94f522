// text_samples.h - texts in nine languages and the sets their writers use
//
// Written for the tests of the extended mode's text encoding detection:
// per language a sentence and a paragraph, each with the legacy character
// sets texts in that language are found in.  Encode() makes the bytes with
// iconv, so every form of a sample is the text as written.
#pragma once

#include <iconv.h>

#include <string>

namespace vtq::test {

struct TextSample {
    const char *text;
    const char *legacy; // the sets the language's texts are written in
};

// Per language a sentence and a paragraph.
inline const TextSample kTextSamples[] = {
    {"明日の会議は午後三時から第二会議室で行います。資料は事前に共有フォルダへ置いてください。",
     "CP932 EUC-JP ISO-2022-JP"},
    {"昨年の秋、私たちは小さな町の古い図書館を訪れました。木造の建物は百年以上前に建てられたもので"
     "、床を歩くたびに静かにきしむ音がしました。館長さんは親切な方で、地元の歴史に関する貴重な資料"
     "を見せてくださいました。帰り道、駅前の喫茶店で次はもっと時間をかけて調べようと話し合いました"
     "。",
     "CP932 EUC-JP ISO-2022-JP"},
    {"请在下周五之前把报告发给我，我们需要在会议上讨论这些数据。", "GBK GB18030"},
    {"去年夏天，我们一家人去了云南旅游。昆明的天气非常舒服，不冷也不热，到处都是鲜花。我们在大理住"
     "了三天，每天早上沿着洱海骑自行车，看着太阳从山后慢慢升起。离开的时候，孩子们都舍不得走。",
     "GBK GB18030"},
    {"請在下週五之前把報告寄給我，我們需要在會議上討論這些資料。", "BIG5"},
    {"去年暑假，我們全家到花蓮旅行。太魯閣的峽谷非常壯觀，溪水清澈見底，兩旁的山壁高聳入雲。我們在"
     "民宿住了三個晚上，老闆每天早上都會準備豐盛的早餐。回台北的火車上，孩子們一直說下次還要再來。",
     "BIG5"},
    {"다음 주 금요일까지 보고서를 보내 주시면 회의에서 자료를 함께 검토하겠습니다.",
     "EUC-KR CP949"},
    {"작년 가을에 우리 가족은 경주로 여행을 다녀왔습니다. 불국사와 석굴암을 둘러보고, 저녁에는 "
     "첨성대 주변을 천천히 걸었습니다. 단풍이 한창이라 어디를 가도 붉고 노란 나무들이 "
     "가득했습니다.",
     "EUC-KR CP949"},
    {"Пожалуйста, пришлите отчёт до пятницы, чтобы мы успели обсудить его на совещании.",
     "CP1251 KOI8-R CP866"},
    {"Прошлым летом мы всей семьёй ездили на Байкал. Вода в озере была такой прозрачной, что на "
     "глубине нескольких метров можно было разглядеть каждый камень. Дети до сих пор вспоминают, "
     "как впервые увидели нерпу.",
     "CP1251 KOI8-R CP866"},
    {"Παρακαλώ στείλτε μου την αναφορά μέχρι την Παρασκευή, για να τη συζητήσουμε στη συνάντηση.",
     "ISO-8859-7 CP1253"},
    {"Το περασμένο καλοκαίρι πήγαμε με την οικογένεια στην Κρήτη. Μείναμε σε ένα μικρό χωριό κοντά "
     "στη θάλασσα, όπου οι άνθρωποι ήταν πολύ φιλόξενοι. Τα παιδιά ενθουσιάστηκαν όταν "
     "επισκεφτήκαμε την Κνωσό.",
     "ISO-8859-7 CP1253"},
    {"Pourriez-vous m'envoyer le rapport avant vendredi ? Nous devons en discuter lors de la "
     "réunion.",
     "CP1252 ISO-8859-1"},
    {"L’été dernier, nous sommes partis en famille dans les Alpes. Chaque matin, nous marchions "
     "jusqu’au lac en suivant un petit sentier bordé de sapins, et l’après-midi, les enfants se "
     "baignaient dans l’eau glacée pendant que nous lisions à l’ombre.",
     "CP1252"},
    {"Könnten Sie mir den Bericht bis Freitag schicken? Wir müssen ihn in der Besprechung "
     "durchgehen.",
     "CP1252 ISO-8859-1"},
    {"Letzten Sommer sind wir mit der ganzen Familie an die Ostsee gefahren. Abends gab es "
     "frischen Fisch aus dem Hafen, und zum Nachtisch haben wir uns ein großes Eis gegönnt. Die "
     "Woche war viel zu schnell vorbei.",
     "CP1252 ISO-8859-1"},
    {"¿Podría enviarme el informe antes del viernes? Tenemos que revisarlo en la reunión.",
     "CP1252 ISO-8859-1"},
    {"El verano pasado fuimos con toda la familia a la costa de Galicia. Por las mañanas "
     "paseábamos por la playa y, después de comer, los niños jugaban en el jardín mientras "
     "nosotros descansábamos.",
     "CP1252 ISO-8859-1"},
};

// bytes in iconv's encoding from, converted to the encoding to; empty
// when they are not valid in from or to lacks a character.
inline std::string Convert(const std::string &bytes, const char *from, const char *to) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return "";
    std::string out(bytes.size() * 4 + 16, '\0');
    char *src = const_cast<char *>(bytes.data()), *dst = out.data();
    std::size_t src_left = bytes.size(), dst_left = out.size();
    const bool ok = iconv(cd, &src, &src_left, &dst, &dst_left) != static_cast<std::size_t>(-1) &&
                    iconv(cd, nullptr, nullptr, &dst, &dst_left) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    out.resize(out.size() - dst_left);
    return ok ? out : "";
}

// text (UTF-8) in iconv's encoding to; empty when the set lacks a character.
inline std::string Encode(const std::string &text, const char *to) {
    return Convert(text, "UTF-8", to);
}

} // namespace vtq::test
