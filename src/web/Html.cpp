#include "Html.h"

using namespace Qt::StringLiterals;

namespace qrb::web {

QString esc(const QString &text)
{
    QString out;
    out.reserve(text.size() + text.size() / 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&':
            out += u"&amp;"_s;
            break;
        case '<':
            out += u"&lt;"_s;
            break;
        case '>':
            out += u"&gt;"_s;
            break;
        case '"':
            out += u"&quot;"_s;
            break;
        case '\'':
            out += u"&#39;"_s;
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString page(const Site &site, const QString &title, const QString &content)
{
    const QString clinic = site.clinic.isEmpty() ? u"インフルエンザ予防接種"_s : site.clinic;
    const QString subtitle = site.clinic.isEmpty() ? u"Web予約"_s : u"インフルエンザ予防接種 Web予約"_s;
    QString html = u"<!DOCTYPE html>\n<html lang=\"ja\"><head><meta charset=\"utf-8\">"
                   "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                   "<title>"_s +
                   esc(title) + u" | "_s + esc(clinic) +
                   u"</title><link rel=\"stylesheet\" href=\"/style.css\"></head><body>"
                   "<header><a href=\"/\">"_s +
                   esc(clinic) + u"</a><span>"_s + subtitle + u"</span></header><main>"_s;
    if (!site.notice.isEmpty()) {
        html += u"<p class=\"notice\">"_s + esc(site.notice) + u"</p>"_s;
    }
    html += u"<h1>"_s + esc(title) + u"</h1>"_s + content + u"</main><footer>"_s;
    if (!site.tel.isEmpty()) {
        html += u"<p>お電話でのご予約・お問い合わせ: <a href=\"tel:"_s + esc(QString(site.tel).remove(u'-')) +
                u"\">"_s + esc(site.tel) + u"</a></p>"_s;
    }
    html += u"<p><a href=\"/\">予約する日を選ぶ</a> <a href=\"/check\">予約の確認・取消</a></p>"
            "</footer></body></html>\n"_s;
    return html;
}

QByteArray stylesheet()
{
    // Phone first: one column, large touch targets; wider screens only get a wider margin.
    return R"css(*{box-sizing:border-box}
body{margin:0;font-family:"Noto Sans CJK JP","Hiragino Sans","Yu Gothic",sans-serif;font-size:17px;line-height:1.6;color:#1b1b1b;background:#f4f6f8}
header{background:#0b5d7a;color:#fff;padding:.6em 1em}
header a{color:#fff;font-weight:bold;text-decoration:none;display:flex;align-items:center;min-height:44px;font-size:1.1em}
header span{font-size:.85em;opacity:.9}
main{max-width:40em;margin:0 auto;padding:.5em 1em 1em;background:#fff;min-height:60vh}
h1{font-size:1.3em;margin:.6em 0}
footer{max-width:40em;margin:0 auto;padding:1em;font-size:.9em;color:#444}
main p>a,footer a,.warn li a{display:inline-flex;align-items:center;min-height:44px;min-width:44px}
footer a{margin-right:1em}
a{color:#0b5d7a}
.notice{background:#fff6d6;border-left:4px solid #e0a800;padding:.5em .8em}
.legend{font-size:.9em;color:#444}
.legend span{display:inline-block;white-space:nowrap;margin-right:1em}
.vh{position:absolute;width:1px;height:1px;overflow:hidden;clip:rect(0 0 0 0);white-space:nowrap}
ul.days,ul.slots{list-style:none;padding:0;margin:0}
ul.days li,ul.slots li{border-bottom:1px solid #dde3e8}
ul.days a,ul.days span.off,ul.slots a,ul.slots span.off{display:flex;justify-content:space-between;align-items:center;gap:.5em;min-height:44px;padding:.75em .5em;text-decoration:none;color:inherit}
ul.days a>span:first-child,ul.days span.off>span:first-child{white-space:nowrap}
.why{margin-left:auto;font-size:.9em;text-align:right;word-break:keep-all}
.slot strong{white-space:nowrap}
.why-day{font-size:1.05em}
ul.days a:hover,ul.slots a:hover{background:#eef6f9}
span.off{color:#5c5c5c}
.mark{font-weight:bold;font-size:1.2em;min-width:2em;text-align:center}
.m-ok{color:#1a7f37}.m-few{color:#b35c00}.m-full,.m-none{color:#5c5c5c}
.sat{color:#1d4fb8}.sun{color:#c0262d}
form .field{margin:1em 0}
label,.label{display:block;font-weight:bold}
.opt{font-weight:normal;color:#555;font-size:.9em}
input[type=text],input[type=tel],input[type=email],input[type=date],select,textarea{width:100%;font-size:1em;padding:.55em;border:1px solid #8a97a0;border-radius:4px;background:#fff}
textarea{min-height:4.5em}
.birth{display:flex;gap:.5em}.birth select{width:auto;flex:none}.birth input{flex:1;min-width:0}
fieldset{border:0;padding:0;margin:1em 0}
fieldset label{display:inline-flex;align-items:center;min-height:44px;font-weight:normal;margin-right:1.2em}
.req{font-size:.8em;font-weight:bold;color:#fff;background:#b00020;border-radius:3px;padding:0 .4em;margin-left:.4em;white-space:nowrap}
form:not(:has(input[data-pair]:checked)) #second-field{display:none}
input[type=radio]{transform:scale(1.3);margin-right:.4em}
.error{color:#b00020;font-weight:bold;margin:.2em 0}
.has-error input,.has-error select,.has-error textarea{border-color:#b00020;border-width:2px}
button{font-size:1.05em;padding:.75em 1.2em;border-radius:6px;border:0;background:#0b5d7a;color:#fff;width:100%;margin:.4em .6em .4em 0}
button.secondary{background:#e4e9ed;color:#1b1b1b}
button.danger{background:#b00020}
table.summary{border-collapse:collapse;width:100%}
table.summary th,table.summary td{text-align:left;padding:.45em .3em;border-bottom:1px solid #dde3e8;vertical-align:top}
table.summary th{width:7em;color:#444;font-weight:normal}
@media (max-width:24em){table.summary th,table.summary td{display:block;width:auto}table.summary th{border-bottom:0;padding-bottom:0}}
.big{font-size:1.6em;font-weight:bold;letter-spacing:.05em}
dl.numbers{margin:.5em 0}dl.numbers dt{color:#444;margin-top:.6em}dl.numbers dd{margin:0}
.code{font-family:"Noto Sans Mono CJK JP",monospace;background:#eef6f9;padding:.2em .3em;border-radius:4px;white-space:nowrap;font-size:.9em;display:inline-block}
.warn{background:#fdecea;border-left:4px solid #b00020;padding:.5em .8em}
.warn ul{margin:.3em 0;padding-left:1.2em}
#errors:focus{outline:3px solid #0b5d7a}
.slot{background:#eef6f9;padding:.5em .8em;border-radius:4px}
@media (min-width:50em){main{margin-top:1em;border-radius:6px;padding:1em 2em 2em}button{width:auto;min-width:12em}}
)css";
}

} // namespace qrb::web
