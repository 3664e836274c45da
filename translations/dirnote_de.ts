<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de">
<context>
    <name>ImportOffer</name>
    <message numerus="yes">
        <source>Not one of the %n descriptions of %1 names a file or folder here (read as %2: %3), so nothing was imported.</source>
        <translation>
            <numerusform>Die %n Beschreibung aus %1 nennt keine Datei und keinen Ordner hier (gelesen als %2: %3), daher wurde nichts importiert.</numerusform>
            <numerusform>Keine der %n Beschreibungen aus %1 nennt eine Datei oder einen Ordner hier (gelesen als %2: %3), daher wurde nichts importiert.</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>and %n more</source>
        <translation>
            <numerusform>und %n weitere</numerusform>
            <numerusform>und %n weitere</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>%n of the descriptions of %1 could not be imported:
%2</source>
        <translation>
            <numerusform>%n der Beschreibungen aus %1 konnte nicht importiert werden:
%2</numerusform>
            <numerusform>%n der Beschreibungen aus %1 konnten nicht importiert werden:
%2</numerusform>
        </translation>
    </message>
    <message>
        <source>Nothing was imported.</source>
        <translation>Es wurde nichts importiert.</translation>
    </message>
    <message numerus="yes">
        <source>Import the %n descriptions of %1?</source>
        <translation>
            <numerusform>Die %n Beschreibung aus %1 importieren?</numerusform>
            <numerusform>Die %n Beschreibungen aus %1 importieren?</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>MessageDlg</name>
    <message>
        <source>&amp;Yes</source>
        <translation>&amp;Ja</translation>
    </message>
    <message>
        <source>&amp;No</source>
        <translation>&amp;Nein</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>&amp;Abort</source>
        <translation>&amp;Abbrechen</translation>
    </message>
    <message>
        <source>&amp;Retry</source>
        <translation>&amp;Wiederholen</translation>
    </message>
</context>
<context>
    <name>TFolderDialog</name>
    <message>
        <source>Browse for Folder</source>
        <translation>Ordner suchen</translation>
    </message>
</context>
<context>
    <name>TFrmBrowseForFolder</name>
    <message>
        <source>Folders</source>
        <translation>Ordner</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
</context>
<context>
    <name>TFrmCurrDirNote</name>
    <message>
        <source>Folder information</source>
        <translation>Ordnerinformationen</translation>
    </message>
    <message>
        <source>Folder text</source>
        <translation>Ordnertext</translation>
    </message>
    <message>
        <source>The text about the folder itself, as many lines as needed</source>
        <translation>Der Text über den Ordner selbst, mit beliebig vielen Zeilen</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>A line of the folder text holds at most %1 bytes; the rest was not taken.</source>
        <translation>Eine Zeile des Ordnertexts fasst höchstens %1 Bytes; der Rest wurde nicht übernommen.</translation>
    </message>
</context>
<context>
    <name>TFrmIndexTree</name>
    <message>
        <source>Index this folder and its subfolders</source>
        <translation>Diesen Ordner und seine Unterordner indizieren</translation>
    </message>
    <message>
        <source>Indexing %1</source>
        <translation>%1 wird indiziert</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Counting folders: %1 found</source>
        <translation>Ordner werden gezählt: %1 gefunden</translation>
    </message>
    <message>
        <source>%1 of %2 folders: %3</source>
        <translation>%1 von %2 Ordnern: %3</translation>
    </message>
    <message>
        <source>The index cannot be written: %1</source>
        <translation>Der Index kann nicht geschrieben werden: %1</translation>
    </message>
    <message numerus="yes">
        <source>Done: %n folders indexed.</source>
        <translation>
            <numerusform>Fertig: %n Ordner indiziert.</numerusform>
            <numerusform>Fertig: %n Ordner indiziert.</numerusform>
        </translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
</context>
<context>
    <name>TFrmMain</name>
    <message>
        <source>&amp;About ...</source>
        <translation>Ü&amp;ber ...</translation>
    </message>
    <message>
        <source>No folder is listed yet, so there is no folder text to edit.</source>
        <translation>Es ist noch kein Ordner angezeigt, daher gibt es keinen Ordnertext zu bearbeiten.</translation>
    </message>
    <message>
        <source>Folder:</source>
        <translation>Ordner:</translation>
    </message>
    <message>
        <source>(none)</source>
        <translation>(keiner)</translation>
    </message>
    <message>
        <source>F&amp;olders</source>
        <translation>&amp;Ordner</translation>
    </message>
    <message>
        <source>&amp;Files</source>
        <translation>&amp;Dateien</translation>
    </message>
    <message>
        <source>Folders</source>
        <translation>Ordner</translation>
    </message>
    <message>
        <source>The subfolders of the listed folder, each with its description. Typing edits the current row&apos;s description.</source>
        <translation>Die Unterordner des angezeigten Ordners mit ihren Beschreibungen. Tippen bearbeitet die Beschreibung der aktuellen Zeile.</translation>
    </message>
    <message>
        <source>Files</source>
        <translation>Dateien</translation>
    </message>
    <message>
        <source>The files of the listed folder, each with its description. Typing edits the current row&apos;s description.</source>
        <translation>Die Dateien des angezeigten Ordners mit ihren Beschreibungen. Tippen bearbeitet die Beschreibung der aktuellen Zeile.</translation>
    </message>
    <message>
        <source>Folder &amp;info</source>
        <translation>Ordner&amp;info</translation>
    </message>
    <message>
        <source>&amp;Select folder</source>
        <translation>Ordner &amp;wählen</translation>
    </message>
    <message>
        <source>&amp;Refresh folder</source>
        <translation>&amp;Aktualisieren</translation>
    </message>
    <message>
        <source>&amp;Close</source>
        <translation>&amp;Schließen</translation>
    </message>
    <message>
        <source>Edits the text about the listed folder itself</source>
        <translation>Bearbeitet den Text über den angezeigten Ordner selbst</translation>
    </message>
    <message>
        <source>Picks another folder to list</source>
        <translation>Wählt einen anderen Ordner zur Anzeige</translation>
    </message>
    <message>
        <source>Lists the folder again</source>
        <translation>Liest den Ordner neu ein</translation>
    </message>
    <message>
        <source>Ends the program</source>
        <translation>Beendet das Programm</translation>
    </message>
    <message>
        <source>&amp;Restore</source>
        <translation>&amp;Wiederherstellen</translation>
    </message>
    <message>
        <source>Mi&amp;nimize</source>
        <translation>Mi&amp;nimieren</translation>
    </message>
    <message>
        <source>Ma&amp;ximize</source>
        <translation>Ma&amp;ximieren</translation>
    </message>
    <message>
        <source>&amp;Close	Alt+F4</source>
        <translation>&amp;Schließen	Alt+F4</translation>
    </message>
    <message>
        <source>Another program changed the description of &quot;%1&quot; while you typed: yours is saved, the other is in Pruned descriptions</source>
        <translation>Ein anderes Programm hat die Beschreibung von &quot;%1&quot; geändert, während Sie tippten: Ihre ist gespeichert, die andere steht unter Entfernte Beschreibungen</translation>
    </message>
    <message>
        <source>Another program changed the description of &quot;%1&quot; while you typed: yours is saved over it</source>
        <translation>Ein anderes Programm hat die Beschreibung von &quot;%1&quot; geändert, während Sie tippten: Ihre hat sie ersetzt</translation>
    </message>
    <message>
        <source>&quot;%1&quot; was removed while you typed its description: your text is in Pruned descriptions</source>
        <translation>&quot;%1&quot; wurde entfernt, während Sie die Beschreibung tippten: Ihr Text steht unter Entfernte Beschreibungen</translation>
    </message>
    <message>
        <source>&quot;%1&quot; was removed while you typed its description: your text could not be kept</source>
        <translation>&quot;%1&quot; wurde entfernt, während Sie die Beschreibung tippten: Ihr Text konnte nicht aufbewahrt werden</translation>
    </message>
    <message>
        <source>Mirror descriptions to file comments</source>
        <translation>Beschreibungen als Dateikommentare spiegeln</translation>
    </message>
    <message>
        <source>The comment of %1 was written by another program: it is left as it is</source>
        <translation>Den Kommentar von %1 hat ein anderes Programm geschrieben: er bleibt, wie er ist</translation>
    </message>
    <message>
        <source>File comments: %1 written, %2 removed, %3 skipped (the file system keeps none, the file may not be changed, or it is a link), %4 left (another program wrote them)</source>
        <translation>Dateikommentare: %1 geschrieben, %2 entfernt, %3 übersprungen (das Dateisystem speichert keine, die Datei darf nicht geändert werden oder sie ist eine Verknüpfung), %4 belassen (ein anderes Programm hat sie geschrieben)</translation>
    </message>
</context>
<context>
    <name>TFrmPrunedDescriptions</name>
    <message>
        <source>Pruned descriptions</source>
        <translation>Entfernte Beschreibungen</translation>
    </message>
    <message>
        <source>Folder</source>
        <translation>Ordner</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>Beschreibung</translation>
    </message>
    <message>
        <source>Pruned</source>
        <translation>Entfernt</translation>
    </message>
    <message>
        <source>Newest first, with folder, name, text and date</source>
        <translation>Die neuesten zuerst, mit Ordner, Name, Text und Datum</translation>
    </message>
    <message>
        <source>Restore &amp;to:</source>
        <translation>Wiederherstellen &amp;für:</translation>
    </message>
    <message>
        <source>Restore to</source>
        <translation>Wiederherstellen für</translation>
    </message>
    <message>
        <source>The entry of the listed folder that gets the chosen description</source>
        <translation>Der Eintrag des angezeigten Ordners, der die gewählte Beschreibung erhält</translation>
    </message>
    <message>
        <source>&amp;Restore</source>
        <translation>&amp;Wiederherstellen</translation>
    </message>
    <message>
        <source>&amp;Copy text</source>
        <translation>Text &amp;kopieren</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
    <message>
        <source>No description was pruned in the last 90 days.</source>
        <translation>In den letzten 90 Tagen wurde keine Beschreibung entfernt.</translation>
    </message>
</context>
<context>
    <name>TMainIndex</name>
    <message>
        <source>Only &amp;undescribed entries</source>
        <translation>Nur &amp;unbeschriebene Einträge</translation>
    </message>
    <message>
        <source>&amp;Search descriptions...</source>
        <translation>Beschreibungen &amp;durchsuchen...</translation>
    </message>
    <message>
        <source>Pruned descriptions...</source>
        <translation>Entfernte Beschreibungen...</translation>
    </message>
    <message>
        <source>Index this folder and its subfolders</source>
        <translation>Diesen Ordner und seine Unterordner indizieren</translation>
    </message>
    <message>
        <source>F&amp;olders (undescribed only)</source>
        <translation>&amp;Ordner (nur unbeschriebene)</translation>
    </message>
    <message>
        <source>&amp;Files (undescribed only)</source>
        <translation>&amp;Dateien (nur unbeschriebene)</translation>
    </message>
    <message>
        <source>Folders (undescribed only)</source>
        <translation>Ordner (nur unbeschriebene)</translation>
    </message>
    <message>
        <source>Files (undescribed only)</source>
        <translation>Dateien (nur unbeschriebene)</translation>
    </message>
    <message>
        <source>The description index cannot be used; see the status line.</source>
        <translation>Der Beschreibungsindex kann nicht verwendet werden; siehe die Statuszeile.</translation>
    </message>
    <message>
        <source>The description index is switched off (DIRNOTE_NO_INDEX=1).</source>
        <translation>Der Beschreibungsindex ist ausgeschaltet (DIRNOTE_NO_INDEX=1).</translation>
    </message>
    <message>
        <source>The folder %1 does not exist any more.</source>
        <translation>Der Ordner %1 existiert nicht mehr.</translation>
    </message>
    <message>
        <source>The description index cannot be read: %1</source>
        <translation>Der Beschreibungsindex kann nicht gelesen werden: %1</translation>
    </message>
    <message>
        <source>%1 has a description already. Replace it with the restored one?</source>
        <translation>%1 hat bereits eine Beschreibung. Durch die wiederhergestellte ersetzen?</translation>
    </message>
    <message>
        <source>No folder is listed yet, so there is nothing to index.</source>
        <translation>Es ist noch kein Ordner angezeigt, daher gibt es nichts zu indizieren.</translation>
    </message>
</context>
<context>
    <name>TSearchPanel</name>
    <message>
        <source>Search the descriptions of every indexed folder</source>
        <translation>Die Beschreibungen aller indizierten Ordner durchsuchen</translation>
    </message>
    <message>
        <source>Search descriptions</source>
        <translation>Beschreibungen durchsuchen</translation>
    </message>
    <message>
        <source>Matching descriptions</source>
        <translation>Passende Beschreibungen</translation>
    </message>
    <message>
        <source>Enter lists the folder of the chosen one</source>
        <translation>Die Eingabetaste zeigt den Ordner der gewählten an</translation>
    </message>
    <message>
        <source>Searching...</source>
        <translation>Suche läuft...</translation>
    </message>
    <message>
        <source>The index cannot be searched: %1</source>
        <translation>Der Index kann nicht durchsucht werden: %1</translation>
    </message>
    <message>
        <source>No description matches.</source>
        <translation>Keine Beschreibung passt.</translation>
    </message>
    <message numerus="yes">
        <source>The first %n matches.</source>
        <translation>
            <numerusform>Die ersten %n Treffer.</numerusform>
            <numerusform>Die ersten %n Treffer.</numerusform>
        </translation>
    </message>
    <message>
        <source>1 match.</source>
        <translation>1 Treffer.</translation>
    </message>
    <message numerus="yes">
        <source>%n matches.</source>
        <translation>
            <numerusform>%n Treffer.</numerusform>
            <numerusform>%n Treffer.</numerusform>
        </translation>
    </message>
</context>
<context>
    <name>TSearchResultModel</name>
    <message>
        <source>Folder</source>
        <translation>Ordner</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Description</source>
        <translation>Beschreibung</translation>
    </message>
</context>
<context>
    <name>TStringGrid</name>
    <message>
        <source>This description is %1 bytes long in UTF-8; at most %2 bytes can be saved. Shorten it first.</source>
        <translation>Diese Beschreibung ist in UTF-8 %1 Bytes lang; höchstens %2 Bytes können gespeichert werden. Kürzen Sie sie zuerst.</translation>
    </message>
    <message>
        <source>A description holds at most %1 bytes; the rest was not taken.</source>
        <translation>Eine Beschreibung fasst höchstens %1 Bytes; der Rest wurde nicht übernommen.</translation>
    </message>
    <message>
        <source>This description is longer than %1 bytes, so only its beginning is shown. Saving a change will cut it to what is shown. Edit it anyway?</source>
        <translation>Diese Beschreibung ist länger als %1 Bytes, daher wird nur ihr Anfang angezeigt. Beim Speichern einer Änderung wird sie auf das Angezeigte gekürzt. Trotzdem bearbeiten?</translation>
    </message>
</context>
<context>
    <name>TStringGridModel</name>
    <message>
        <source>No entries</source>
        <translation>Keine Einträge</translation>
    </message>
    <message>
        <source>No description</source>
        <translation>Keine Beschreibung</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>Description of %1</source>
        <translation>Beschreibung von %1</translation>
    </message>
</context>
<context>
    <name>TWindowMenu</name>
    <message>
        <source>Window menu</source>
        <translation>Fenstermenü</translation>
    </message>
</context>
</TS>
