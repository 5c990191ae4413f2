<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>plotmint::PreviewMenu</name>
    <message>
        <source>EMFとして保存...</source>
        <translation>Save as EMF...</translation>
    </message>
    <message>
        <source>拡張メタファイル(*.emf)</source>
        <translation>Enhanced metafiles (*.emf)</translation>
    </message>
    <message>
        <source>SVGとして保存...</source>
        <translation>Save as SVG...</translation>
    </message>
    <message>
        <source>SVG画像(*.svg)</source>
        <translation>SVG images (*.svg)</translation>
    </message>
    <message>
        <source>PDFとして保存...</source>
        <translation>Save as PDF...</translation>
    </message>
    <message>
        <source>PDF文書(*.pdf)</source>
        <translation>PDF documents (*.pdf)</translation>
    </message>
    <message>
        <source>PNGとして保存...</source>
        <translation>Save as PNG...</translation>
    </message>
    <message>
        <source>PNG画像(*.png)</source>
        <translation>PNG images (*.png)</translation>
    </message>
    <message>
        <source>拡大</source>
        <translation>Zoom in</translation>
    </message>
    <message>
        <source>縮小</source>
        <translation>Zoom out</translation>
    </message>
    <message>
        <source>全体を表示</source>
        <translation>Fit whole picture</translation>
    </message>
    <message>
        <source>画像としてコピー</source>
        <translation>Copy as image</translation>
    </message>
    <message>
        <source>印刷...</source>
        <translation>Print...</translation>
    </message>
</context>
<context>
    <name>plotmint::TForm1</name>
    <message>
        <source>ファイルを選ぶ</source>
        <translation>Choose file</translation>
    </message>
    <message>
        <source>ファイル名</source>
        <translation>File name</translation>
    </message>
    <message>
        <source>線幅</source>
        <translation>Width</translation>
    </message>
    <message>
        <source>再描画</source>
        <translation>Redraw</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>クリップボードへコピー</source>
        <translation>Copy to clipboard</translation>
    </message>
    <message>
        <source>メッセージ</source>
        <translation>Messages</translation>
    </message>
    <message>
        <source>Vline Hline の扱い</source>
        <translation>Vline Hline as</translation>
    </message>
    <message>
        <source>線分の集合</source>
        <translation>Line segments</translation>
    </message>
    <message>
        <source>点線で置換</source>
        <translation>Dotted lines</translation>
    </message>
    <message>
        <source>下色の線</source>
        <translation>Base colour</translation>
    </message>
    <message>
        <source>hersheyフォント</source>
        <translation>Hershey fonts</translation>
    </message>
    <message>
        <source>元のまま</source>
        <translation>As they are</translation>
    </message>
    <message>
        <source>Arialで置換</source>
        <translation>Arial instead</translation>
    </message>
    <message>
        <source>Timesで置換</source>
        <translation>Times instead</translation>
    </message>
    <message>
        <source>カラーテーブル自動読込</source>
        <translation>Auto-load colour tables</translation>
    </message>
    <message>
        <source>する</source>
        <translation>Yes</translation>
    </message>
    <message>
        <source>しない</source>
        <translation>No</translation>
    </message>
    <message>
        <source>塗りつぶしの色</source>
        <translation>Fill colours</translation>
    </message>
    <message>
        <source>線の色</source>
        <translation>Line colours</translation>
    </message>
    <message>
        <source>パネルの色（-1を指定するとボタンカラー）</source>
        <translation>Panel colour (-1: button colour)</translation>
    </message>
    <message>
        <source>監視</source>
        <translation>Watch</translation>
    </message>
    <message>
        <source>グラフファイルが書き換えられるたびに再描画する</source>
        <translation>Redraw whenever the graph file changes on disk</translation>
    </message>
    <message>
        <source>古い図</source>
        <translation>Out of date</translation>
    </message>
    <message>
        <source>グラフファイル(*.g)</source>
        <translation>Graph files (*.g)</translation>
    </message>
    <message>
        <source>塗りつぶし色の定義(*.ktc)</source>
        <translation>Fill colour tables (*.ktc)</translation>
    </message>
    <message>
        <source>線色の定義(*.klc)</source>
        <translation>Line colour tables (*.klc)</translation>
    </message>
    <message>
        <source>線幅</source>
        <comment>grid title</comment>
        <translation>Wid</translation>
    </message>
</context>
</TS>
