#include "app/CatalogueNotices.h"

#include <QFile>
#include <algorithm>
#include <cerrno>

#include "app/LocalText.h"
#include "app/MessageBoxes.h"
#include "app/QtText.h"
#include "catalog/Pendingchange.h"

namespace {

// A file of the data folder by its name alone: the folder heads the
// message, and the catalogue's own names are plain ASCII.
std::string baseName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string volumeText(const TStartRepair& repair) {
  if (!repair.volume.empty()) return repair.volume;
  return toAnsi(LocalText(206, QString::fromUtf8("nom inconnu")));
}

std::string causeText(int error) { return toAnsi(SystemErrorText(error)); }

bool noRoom(int error) { return error == ENOSPC || error == EDQUOT; }

// The disk call that failed, its file and its cause; empty when no call
// failed.
QString causeSentence(TDiskCall call, const std::string& path, int error) {
  const std::string file = baseName(path);
  switch (call) {
    case TDiskCall::kNone:
      break;
    case TDiskCall::kRead:
      return LocalFormat(279, "Le disque n'a pas pu lire le fichier %s (%s).",
                         {file, causeText(error)});
    case TDiskCall::kWrite:
      return LocalFormat(280, "Le disque n'a pas pu écrire le fichier %s (%s).",
                         {file, causeText(error)});
    case TDiskCall::kSync:
      return LocalFormat(281, "Le disque n'a pas confirmé l'écriture du fichier %s (%s).",
                         {file, causeText(error)});
  }
  return QString();
}

// What the user can do about a failure of that cause.
QString advice(int error) {
  return noRoom(error) ? LocalText(282, QString::fromUtf8("Libérez de la place sur le disque."))
                       : LocalText(283, QString::fromUtf8("Vérifiez le disque."));
}

// A line or a refusal with the failure that stopped its work, if any: the
// failure first where the text tells what came of it, after it where the
// text tells what is refused; then what to do.
QString withCause(const QString& text, TDiskCall call, const std::string& file, int error,
                  bool failureFirst = false) {
  const QString cause = causeSentence(call, file, error);
  if (cause.isEmpty()) return text;
  const QString told =
      failureFirst ? cause + QLatin1Char(' ') + text : text + QLatin1Char(' ') + cause;
  return told + QLatin1Char(' ') + advice(error);
}

QString repairText(const TStartRepair& r);

QString repairLine(const TStartRepair& r) {
  return withCause(repairText(r), r.call, r.causeFile, r.error);
}

QString repairText(const TStartRepair& r) {
  using Kind = TStartRepair::Kind;
  const std::string file = baseName(r.file);
  switch (r.kind) {
    case Kind::kFilesRemoved:
      return LocalFormat(192,
                         "Support %d (%s) : son ajout n'avait pas abouti, %d fichier(s) retiré(s)",
                         {r.supportId, volumeText(r), r.count});
    case Kind::kCountSet:
      return LocalFormat(193,
                         "Support %d (%s) : ajout interrompu, nombre de fichiers ramené aux %d "
                         "fichier(s) enregistré(s)",
                         {r.supportId, volumeText(r), r.count});
    case Kind::kSupportRemoved:
      return LocalFormat(253,
                         "Support %d (%s) : son ajout avait été interrompu et endommagé, retiré "
                         "avec ses %d fichier(s)",
                         {r.supportId, volumeText(r), r.count});
    case Kind::kSupportNeverFilled:
      return LocalFormat(
          265,
          "Support %d (%s) : son ajout s'était arrêté avant l'écriture de tout fichier, retiré",
          {r.supportId, volumeText(r)});
    case Kind::kEditCompleted:
      return LocalFormat(260, "Support %d (%s) : sa modification avait été interrompue, achevée",
                         {r.supportId, volumeText(r)});
    case Kind::kDeletionCompleted:
      return LocalFormat(194, "Support %d (%s) : suppression achevée",
                         {r.supportId, volumeText(r)});
    case Kind::kEmptyingCompleted:
      return LocalFormat(195, "Vidage de la base achevé", {});
    case Kind::kEmptyingIncomplete:
      return LocalFormat(196,
                         "Le vidage de la base n'a pas pu être achevé : il le sera au prochain "
                         "démarrage ou au prochain vidage.",
                         {});
    case Kind::kRepairUnwritten:
      return LocalFormat(197,
                         "La réparation n'a pas pu être écrite sur le disque : elle sera refaite "
                         "au prochain démarrage.",
                         {});
    case Kind::kRepairWaits:
      return LocalFormat(198,
                         "Une modification interrompue n'a pas pu être réparée, une table ne "
                         "s'étant pas ouverte ou n'ayant pas pu être lue : les modifications de "
                         "la base sont refusées jusqu'à ce qu'elle le soit.",
                         {});
    case Kind::kRepairReadOnly:
      return LocalFormat(221,
                         "Une modification interrompue n'a pas pu être réparée, le dossier de la "
                         "base ne pouvant pas être écrit (%s) : elle le sera au premier démarrage "
                         "qui le pourra",
                         {causeText(r.error)});
    case Kind::kNoteDamaged:
      return LocalFormat(199, "Le fichier %s était endommagé : mis de côté, rien n'a été modifié",
                         {file});
    case Kind::kNoteStale:
      return LocalFormat(200,
                         "Le fichier %s ne correspondait pas à ces tables (base restaurée ou "
                         "copiée ?) : mis de côté, rien n'a été modifié",
                         {file});
    case Kind::kNoteUnreadable:
      return LocalFormat(201,
                         "Le fichier %s ne peut pas être lu : les modifications de la base sont "
                         "refusées jusqu'à un démarrage qui pourra le lire.",
                         {file});
    case Kind::kNoteUnwritable:
      return LocalFormat(202,
                         "Le fichier %s ne peut pas être écrit : les modifications de la base "
                         "sont refusées tant qu'il ne peut pas l'être.",
                         {file});
    case Kind::kTailCut:
      return LocalFormat(203, "Table %s : enregistrement incomplet en fin de fichier retiré",
                         {file});
    case Kind::kCountTakenBack:
      return LocalFormat(254,
                         "Table %s : son en-tête comptait des enregistrements absents du fichier, "
                         "ramené à ceux qu'il contient",
                         {file});
    case Kind::kIndexRebuilt:
      return LocalFormat(204, "Table %s : index endommagé ou incomplet, reconstruit", {file});
    case Kind::kIndexFinished:
      if (r.error == ENOSPC)
        return LocalFormat(273,
                           "Table %s : son index était resté inachevé, le disque n'ayant pas eu "
                           "la place de tout écrire : reconstruit",
                           {file});
      return LocalFormat(268,
                         "Table %s : son index était resté inachevé, une modification n'ayant pas "
                         "été entièrement écrite sur le disque : reconstruit",
                         {file});
    case Kind::kIndexWaits:
      return LocalFormat(205,
                         "Table %s : son index doit être reconstruit et ne peut pas l'être "
                         "maintenant ; la table reste fermée jusque-là.",
                         {file});
    case Kind::kIndexInMemory:
      return LocalFormat(263,
                         "Un index resté inachevé n'a pas pu être reconstruit sur le disque ; il "
                         "l'a été en mémoire pour consulter la base. Les modifications attendent "
                         "un démarrage qui pourra le reconstruire sur le disque.",
                         {});
  }
  return QString();
}

}  // namespace

QString SystemErrorText(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return LocalText(211, QString::fromUtf8("accès refusé"));
    case EROFS:
      return LocalText(212, QString::fromUtf8("disque en lecture seule"));
    case ENOSPC:
    case EDQUOT:
      return LocalText(213, QString::fromUtf8("disque plein"));
    case EISDIR:
      return LocalText(214, QString::fromUtf8("c'est un dossier"));
    case EINVAL:
      return LocalText(215, QString::fromUtf8("ce n'est pas un fichier ordinaire"));
    case EIO:
      return LocalText(216, QString::fromUtf8("erreur d'entrée-sortie"));
    case EFBIG:
      return LocalText(257, QString::fromUtf8("fichier trop grand"));
    default:
      return LocalFormat(217, "erreur système %d", {error});
  }
}

QString StartReportText(const TStartReport& report, const std::string& dataFolder) {
  if (report.empty()) return QString();
  QString text = LocalText(191, QString::fromUtf8("Au démarrage, la base de données du dossier "
                                                  "suivant a été vérifiée :")) +
                 QLatin1Char('\n') + QFile::decodeName(QByteArray::fromStdString(dataFolder)) +
                 QLatin1Char('\n');
  for (const TStartRepair& repair : report) text += QStringLiteral("\n- ") + repairLine(repair);
  return text;
}

QString ChangeRefusalText(const TChangeRefusal& refusal) {
  using Why = TChangeRefusal::Why;
  const std::string file = baseName(refusal.file);
  QString text;
  switch (refusal.why) {
    case Why::kNoteUnwritable:
      text = LocalFormat(207,
                         "Modification refusée : le fichier qui note les modifications en cours "
                         "ne peut pas être écrit.",
                         {});
      break;
    case Why::kTablesUnwritten:
      text = LocalFormat(208,
                         "Modification refusée : ce que la base garde en mémoire n'a pas pu être "
                         "écrit d'abord.",
                         {});
      break;
    case Why::kEmptyingIncomplete:
      text = LocalFormat(209,
                         "Modification refusée : le vidage de la base n'est pas achevé. Videz-la "
                         "de nouveau.",
                         {});
      break;
    case Why::kReadOnly:
      text = LocalFormat(222,
                         "Le dossier de la base de données ne peut pas être écrit (%s) : la base "
                         "peut être consultée, mais l'indexation, l'importation, la modification, "
                         "la suppression et le vidage sont refusés.",
                         {causeText(refusal.error)});
      break;
    case Why::kNoteKept:
      text = LocalFormat(210,
                         "Modification refusée : le démarrage n'a pas pu régler la modification "
                         "notée dans le fichier %s ; elle attend un démarrage qui le pourra.",
                         {kPendingChangeName});
      break;
    case Why::kSyncFailed:
      text = LocalFormat(261,
                         "Ce qui vient d'être enregistré dans la base de données peut être perdu. "
                         "La base peut être consultée, mais les modifications sont refusées "
                         "jusqu'au prochain démarrage du programme, qui la vérifiera.",
                         {});
      break;
    case Why::kIndexInMemory:
      text = LocalFormat(264,
                         "Modification refusée : un index de la base n'a pu être reconstruit "
                         "qu'en mémoire ; les modifications attendent un démarrage qui pourra "
                         "le reconstruire sur le disque.",
                         {});
      break;
    case Why::kWriteRefused:
      text = noRoom(refusal.error)
                 ? LocalFormat(266,
                               "La base de données n'a pas pu être écrite : ce qui attend reste en "
                               "mémoire et sera écrit dès qu'il y aura de la place ; si le "
                               "programme se ferme avant, le prochain démarrage réparera la base.",
                               {})
                 : LocalFormat(284,
                               "La base de données n'a pas pu être écrite : ce qui attend reste en "
                               "mémoire et sera écrit avec la prochaine modification que le disque "
                               "acceptera ; si le programme se ferme avant, le prochain démarrage "
                               "réparera la base.",
                               {});
      break;
    case Why::kChangeUnfinished:
      text = LocalFormat(262,
                         "Modification refusée : une modification de la base n'a pas pu être "
                         "achevée ; le prochain démarrage l'achèvera.",
                         {});
      break;
    case Why::kReadRefused:
      text = LocalFormat(270,
                         "La base de données n'a pas pu être lue : ce qui était en cours s'est "
                         "arrêté là, sans rien modifier de ce qui était enregistré.",
                         {});
      break;
    case Why::kSyncFailedEarlier:
      text = LocalFormat(285,
                         "Modification refusée : le disque n'a pas confirmé une écriture "
                         "précédente de la base ; les modifications sont refusées jusqu'au "
                         "prochain démarrage du programme, qui vérifiera la base.",
                         {});
      break;
    case Why::kTablesUnopened:
      text = LocalFormat(275,
                         "Modification refusée : une table de la base n'a pas pu être ouverte au "
                         "démarrage.",
                         {});
      break;
    case Why::kIndexFull:
      text = LocalFormat(255,
                         "Ajout refusé : l'index %s a atteint la plus grande taille que permet son "
                         "format (4 Go) ; aucune ligne ne peut plus être ajoutée à sa table.",
                         {file});
      break;
  }
  // What a failure met now came to follows it; a change refused for one
  // met before says why after.
  const bool failureFirst = refusal.why == Why::kSyncFailed || refusal.why == Why::kWriteRefused ||
                            refusal.why == Why::kReadRefused;
  // The path whole, as the file system names it.
  return withCause(text, refusal.call, refusal.file, refusal.error, failureFirst) +
         QLatin1Char('\n') + QFile::decodeName(QByteArray::fromStdString(refusal.file));
}

QString StartReportTitle(const TStartReport& report) {
  const bool repaired = std::any_of(report.begin(), report.end(),
                                    [](const TStartRepair& r) { return RepairMade(r.kind); });
  return repaired ? LocalText(190, QString::fromUtf8("Réparation de la base de données"))
                  : LocalText(272, QString::fromUtf8("Vérification de la base de données"));
}

void ShowStartReport(const TStartReport& report, const std::string& dataFolder) {
  if (report.empty()) return;
  ShowMessageBox(StartReportText(report, dataFolder), StartReportTitle(report), BoxButtons::Ok);
}
