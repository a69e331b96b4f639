// The French texts: the second language of the library, the program's
// own built-in texts, so that choosing it shows what the program shows
// without the library, and the about text besides.
#include "app/language/LanguageTexts.h"

namespace language_texts {

// Id 79 stands for three different built-in texts ("Attention", "Format
// Export invalide", "Error"); a text of the library would replace all
// three with one, so French leaves it to the program, as it leaves id 139,
// the empty prefix of a browser's title.
const Table kFrench = MakeTable({
    // Main window: menus, tool buttons and its two boxes.
    {1, "&Fichier"},
    {2, "Informations &base"},
    {3, "Préférences"},
    {4, "&Quitter"},
    {5, "&Edition"},
    {6, "Liste des supports"},
    {7, "&Nouvelle recherche"},
    {8, "Affichage"},
    {9, "Barre d'outil"},
    {10, "Réorganiser les fenêtres"},
    {11, "Cascade"},
    {12, "Mosaique verticale"},
    {13, "Mosaique horizontale"},
    {14, "&Outils"},
    {15, "Indexer &nouvelle source"},
    {16, "&Importer base"},
    {17, "&Exporter base"},
    {18, "&Vider base"},
    {19, "&Aide"},
    {20, "Aide générale"},
    {21, "A propos"},
    {22, "Attention"},
    {23, "Création répertoire impossible"},
    {24, "Etes vous sur de vouloir tout effacer"},
    {25, "Attention"},
    {26, "Infos"},
    {27, "Préférences"},
    {28, "Supports"},
    {29, "Recherche"},
    {30, "Indexer"},
    {31, "Importer"},
    {32, "Exporter"},
    {33, "Exporter support"},
    {34, "Aide"},
    {36, "Recherche rapide"},
    {37, "Send feedback"},
    {38, "Kavri on the web"},
    // About box.
    {40, "A propos"},
    {41, "Kavri Vantrelodisk catalogue vos CD, DVD et disques amovibles.\n\n"},
    {42,
     "Indexez un support une fois : son nom de volume, son numéro de série et chacun de ses "
     "fichiers et répertoires entrent dans la base.\n\n"},
    {43,
     "Ensuite, sans le support, parcourez ses répertoires, cherchez un fichier par son nom, "
     "sa taille ou sa date, et consultez les statistiques de la base.\n\n"},
    {44, "Les archives (*.cex) échangent le contenu de la base avec d'autres installations.\n\n"},
    {45, "Merci d'utiliser Kavri Vantrelodisk !"},
    // Medium properties.
    {46, "Propriétés du support"},
    {47, "Votre identification du support :"},
    {48, "Commentaire long :"},
    {49, "OK"},
    {50, "Fermer"},
    // Export.
    {51, "Exportation de données"},
    {52, "Exportation de :"},
    {53, "la totalité de la base"},
    {54, "Fichier d'archive :"},
    {55, "&Exporter"},
    {56, "&Fermer"},
    {57, "Fichier d'exportation"},
    {58, "Export"},
    {59, "All files"},
    {60, "Exportation TERMINEE !"},
    {61, "Confirmez vous l'ecrasement de ce fichier"},
    {62, "Attention"},
    {63, "Ecriture du fichier impossible:\n%s"},
    // Import.
    {64, "Importation de données"},
    {65, "Fichier d'archive :"},
    {66, "&Importer"},
    {67, "&Fermer"},
    {68, "Fichier d'importation"},
    {69, "Export"},
    {70, "All files"},
    {71, "Format d'export %d"},
    {72, " Fichier(s) Ajouté(s)"},
    {73, " Fichier(s) Passé(s)"},
    {74, "Ajout SUPPORT : "},
    {75, "Passe SUPPORT : "},
    {76, "SUPPORTS : %5d  traité(s), %d importé(s), %d passé(s)"},
    {77, "FICHIERS : %5d  traité(s), %d importé(s), %d passé(s)"},
    {78, "Finished"},
    {81, "Fichier infrouvable:\n%s"},
    // Indexing.
    {82, "Indexation"},
    {83, "Etape 1 : Analyse du support, recensement de tous les fichiers et répertoires."},
    {84, "Etape 2 : Signature (optionnelle) de chaque fichier."},
    {85, "Etape 3 : Ajout de toutes les données dans la base de données."},
    {86, "&Démarrer Indexation support"},
    {87, "Informations :"},
    {88, "Authentification fichiers"},
    {89, "Passer authentification"},
    {90, "Ajouter à la base de données"},
    {91, "Votre identification du support :"},
    {92, "Commentaire long :"},
    {93, "Réinitialiser"},
    {94, "Fermer"},
    {95, "Scanning    :"},
    {96, "Volume Name : "},
    {97, "Volume ID   : "},
    {98, "Scanning terminé : %d fichier(s) trouvé(s)"},
    {99, "Le support n'a pas pu être ajouté à la base de données : aucun fichier n'a été ajouté."},
    {100, "%d files processed"},
    {101, "Taille totale : %ld octet(s) de données"},
    {102, "La base contient déjà :\n%d support(s) avec le même N° de série !"},
    {103, "Attention !"},
    {104, "%d nom(s) ou chemin(s) de plus de 250 caractères seront coupés"},
    {105, "Ready"},
    {106, "Indexer ZIP (1 niveau)"},
    // Search.
    {107, "Search"},
    {108, "Fermer"},
    {109, "&Rechercher"},
    {110, "Double cliquez sur un résultat pour afficher le support ..."},
    {111, "Nom du fichier : (wildcards autorisés)"},
    {112, "Limite :"},
    {113, "Filtrage selon la date :"},
    {114, "Entre le :"},
    {115, "et le :"},
    {116, "Filtrage selon la taille du fichier :"},
    {117, "Entre :"},
    {118, "et :"},
    {119, "N°"},
    {120, "Nom fichier"},
    {121, "Volume"},
    {122, "Date"},
    {123, "Taille"},
    {124, "Path"},
    {125, "N°série Volume"},
    {126, "ID Volume"},
    {127, "Trouvé(s) : %d"},
    // Statistics.
    {128, "Informations sur la base"},
    {129, "Statistiques sur l'ensemble de la base :"},
    {130, "OK"},
    {131, "Statistiques sur l'ensemble de la base"},
    {132, "Total supports    : %ld"},
    {133, "Total fichiers    : %ld"},
    {134, "Taille totale     : %.2f Mo"},
    {135, "[Supports effaces : %ld]"},
    {136, "Total : %12.2f Mo"},
    {137, "Used  : %12.2f Mo"},
    {138, "Free  : %12.2f Mo"},
    // Medium browser.
    {140, "Nom volume :"},
    {141, "N° série :"},
    {144, "Contenu du répertoire :"},
    {145, "Nom"},
    {146, "Taille"},
    {147, "Date"},
    {148, "Extension"},
    {149, "Fermer"},
    {150, "Entrées:%ld"},
    {151, "Octets:%ld "},
    {152, "Pas de fichiers trouves pour ce support"},
    {153, "Attention"},
    {154, "Fichiers:%d  Rep:%d"},
    {155, "Collapse"},
    {156, "Expand"},
    {157, "Your ID :"},
    {158, "Fichiers:%d [Taille:%ld]"},
    // Media list.
    {159, "Liste des supports"},
    {160, "Clic droit avec la souris pour les options supplémentaires ..."},
    {161, "Actualiser"},
    {162, "ID"},
    {163, "Type"},
    {164, "Nom volume"},
    {165, "N° série"},
    {166, "Nb Fichiers"},
    {167, "Votre ID"},
    {168, "Date recensement"},
    {169, "Commentaires"},
    {170, "Taille"},
    {171, "Confirmez vous l'effacement de ce support %05d"},
    {172, "Attention"},
    {173, "Explorer le support"},
    {174, "Editer les propriétés"},
    {175, "Exporter le support"},
    {176, "Supprimer Support"},
    // Medium already in the catalogue.
    {177, "Attention support déjà dans la base ..."},
    {178, "Le support que vous souhaitez importer se trouve déjà dans la base."},
    {179, "Ne pas reposer la question lors du prochain doublon"},
    {180, "Ne pas l'importer"},
    {181, "L'importer en double"},
    // Preferences.
    {182, "Parametres"},
    {183, "Choisissez votre langage"},
    {184, "Voir barre d'outils"},
    {185, "OK"},
    // The start.
    {186, "Bibliothèque de langue refusée :"},
    // The catalogue's repairs at start, its refusals and their causes.
    {190, "Réparation de la base de données"},
    {191, "Au démarrage, la base de données du dossier suivant a été vérifiée :"},
    {192, "Support %d (%s) : son ajout n'avait pas abouti, %d fichier(s) retiré(s)"},
    {193,
     "Support %d (%s) : ajout interrompu, nombre de fichiers ramené aux %d fichier(s) "
     "enregistré(s)"},
    {194, "Support %d (%s) : suppression achevée"},
    {195, "Vidage de la base achevé"},
    {196,
     "Le vidage de la base n'a pas pu être achevé : il le sera au prochain démarrage ou au "
     "prochain vidage."},
    {197,
     "La réparation n'a pas pu être écrite sur le disque : elle sera refaite au prochain "
     "démarrage."},
    {198,
     "Une modification interrompue n'a pas pu être réparée, une table ne s'étant pas ouverte "
     "ou n'ayant pas pu être lue : les modifications de la base sont refusées jusqu'à ce "
     "qu'elle le soit."},
    {199, "Le fichier %s était endommagé : mis de côté, rien n'a été modifié"},
    {200,
     "Le fichier %s ne correspondait pas à ces tables (base restaurée ou copiée ?) : mis de côté, "
     "rien n'a été modifié"},
    {201,
     "Le fichier %s ne peut pas être lu : les modifications de la base sont refusées jusqu'à "
     "un démarrage qui pourra le lire."},
    {202,
     "Le fichier %s ne peut pas être écrit : les modifications de la base sont refusées tant "
     "qu'il ne peut pas l'être."},
    {203, "Table %s : enregistrement incomplet en fin de fichier retiré"},
    {204, "Table %s : index endommagé ou incomplet, reconstruit"},
    {205,
     "Table %s : son index doit être reconstruit et ne peut pas l'être maintenant ; la table "
     "reste fermée jusque-là."},
    {206, "nom inconnu"},
    {207,
     "Modification refusée : le fichier qui note les modifications en cours ne peut pas être "
     "écrit."},
    {208, "Modification refusée : ce que la base garde en mémoire n'a pas pu être écrit d'abord."},
    {209, "Modification refusée : le vidage de la base n'est pas achevé. Videz-la de nouveau."},
    {210,
     "Modification refusée : le démarrage n'a pas pu régler la modification notée dans le "
     "fichier %s ; elle attend un démarrage qui le pourra."},
    {211, "accès refusé"},
    {212, "disque en lecture seule"},
    {213, "disque plein"},
    {214, "c'est un dossier"},
    {215, "ce n'est pas un fichier ordinaire"},
    {216, "erreur d'entrée-sortie"},
    {217, "erreur système %d"},
    // The lines of an insertion or an import the disk stopped.
    {218,
     "Ecriture dans la base impossible : %d élément(s) enregistré(s), %d en attente d'écriture, %d "
     "refusé(s)"},
    {219, "Ajout interrompu : %d élément(s) ajouté(s), %d refusé(s)"},
    {220,
     "Ecriture dans la base impossible : importation arrêtée, %d fichier(s) enregistré(s), %d en "
     "attente d'écriture, %d refusé(s)"},
    // A catalogue that cannot be written.
    {221,
     "Une modification interrompue n'a pas pu être réparée, le dossier de la base ne pouvant "
     "pas être écrit (%s) : elle le sera au premier démarrage qui le pourra"},
    {222,
     "Le dossier de la base de données ne peut pas être écrit (%s) : la base peut être "
     "consultée, mais l'indexation, l'importation, la modification, la suppression et le "
     "vidage sont refusés."},
    // The catalogue held elsewhere, and an error that escaped every form.
    {230, "Base de données déjà ouverte par un autre programme :"},
    {231, "Exception inconnue"},
    // Export: the medium exported, the progress and the trace.
    {232, "support N°%05d"},
    {233, "Support : %d/%d"},
    {234, "Exportation : "},
    // Import: why it stopped, the blocks passed, its Stop button.
    {235, "Lecture du fichier impossible, ligne %d"},
    {236, "Ligne %d trop longue : fichier endommagé"},
    {237, "Blocs endommagés passés : %d"},
    {238, "Stop"},
    // Search, the medium browser and the about box.
    {239, "Stop"},
    {240, "md5"},
    {241, "OK"},
    // Why a language library is refused.
    {242, "Elle ne peut pas être lue : %s"},
    {243, "Son contrôle n'a pas pu être lancé : %s"},
    {244, "Elle bloquerait le programme : son contrôle a duré plus de %d s."},
    {245, "Le système ne peut pas la charger : %s"},
    {246, "Le système ne peut pas la charger."},
    {247, "Elle contient trop de textes."},
    {248, "Elle ferait échouer le programme (%s) : %s"},
    {249, "Elle ferait échouer le programme (%s)."},
    {250, "Elle arrêterait le programme (code %d) : %s"},
    {251, "Elle arrêterait le programme (code %d)."},
    {252, "Son contrôle a rendu un rapport illisible."},
    // Ce qu'un démarrage a réparé après une coupure de courant.
    {253,
     "Support %d (%s) : son ajout avait été interrompu et endommagé, retiré avec ses %d "
     "fichier(s)"},
    {254,
     "Table %s : son en-tête comptait des enregistrements absents du fichier, ramené à ceux "
     "qu'il contient"},
    {255,
     "Ajout refusé : l'index %s a atteint la plus grande taille que permet son format (4 Go) ; "
     "aucune ligne ne peut plus être ajoutée à sa table."},
    // A setting the disk refuses, and a cause.
    {256,
     "Le réglage n'a pas pu être enregistré dans le fichier des réglages (%s) : il ne sera pas "
     "repris au prochain démarrage."},
    {257, "fichier trop grand"},
    // Une modification qu'une synchronisation manquée ou une étape inachevée laisse au prochain
    // démarrage.
    {260, "Support %d (%s) : sa modification avait été interrompue, achevée"},
    {261,
     "Ce qui vient d'être enregistré dans la base de données peut être perdu. La base peut "
     "être consultée, mais les modifications sont refusées jusqu'au prochain démarrage du "
     "programme, qui la vérifiera."},
    {262,
     "Modification refusée : une modification de la base n'a pas pu être achevée ; le prochain "
     "démarrage l'achèvera."},
    {265, "Support %d (%s) : son ajout s'était arrêté avant l'écriture de tout fichier, retiré"},
    // Un disque plein, au moment où il se présente et à la fermeture.
    {266,
     "La base de données n'a pas pu être écrite : ce qui attend reste en mémoire et sera écrit "
     "dès qu'il y aura de la place ; si le programme se ferme avant, le prochain démarrage "
     "réparera la base."},
    {267,
     "Le disque est plein : ce que la base gardait en mémoire n'a pas pu être écrit avant la "
     "fermeture. Le prochain démarrage réparera la base à partir de ce que le disque contient."},
    {268,
     "Table %s : son index était resté inachevé, une modification n'ayant pas été entièrement "
     "écrite sur le disque : reconstruit"},
    {269, "Ouverture de la base : reconstruction d'un index resté inachevé..."},
    // Un index qu'un disque plein garde en mémoire.
    {263,
     "Un index resté inachevé n'a pas pu être reconstruit sur le disque ; il l'a été en "
     "mémoire pour consulter la base. Les modifications attendent un démarrage qui pourra le "
     "reconstruire sur le disque."},
    {264,
     "Modification refusée : un index de la base n'a pu être reconstruit qu'en mémoire ; les "
     "modifications attendent un démarrage qui pourra le reconstruire sur le disque."},
    // Le démarrage : une reconstruction en cours, un rapport sans réparation.
    {271, "Ouverture de la base de données"},
    {272, "Vérification de la base de données"},
    {273,
     "Table %s : son index était resté inachevé, le disque n'ayant pas eu la place de tout "
     "écrire : reconstruit"},
    // Un disque qui ne peut plus être lu.
    {270,
     "La base de données n'a pas pu être lue : ce qui était en cours s'est arrêté là, sans "
     "rien modifier de ce qui était enregistré."},
    // Une exportation qui n'a pas pu lire toute la base.
    {274,
     "Exportation arrêtée : la base n'a pas pu être lue en entier, le fichier n'a pas été écrit."},
    {275, "Modification refusée : une table de la base n'a pas pu être ouverte au démarrage."},
    // Les statistiques d'une base qui n'a pas pu être lue jusqu'au bout.
    {276, "La base n'a pas pu être lue jusqu'au bout"},
    // Une importation ou une indexation qui n'a pas pu lire la base.
    {277, "Importation arrêtée : la base n'a pas pu être lue, rien n'a été importé."},
    {278, "Indexation arrêtée : la base n'a pas pu être lue."},
    {279, "Le disque n'a pas pu lire le fichier %s (%s)."},
    {280, "Le disque n'a pas pu écrire le fichier %s (%s)."},
    {281, "Le disque n'a pas confirmé l'écriture du fichier %s (%s)."},
    {282, "Libérez de la place sur le disque."},
    {283, "Vérifiez le disque."},
    {284,
     "La base de données n'a pas pu être écrite : ce qui attend reste en mémoire et sera écrit "
     "avec la prochaine modification que le disque acceptera ; si le programme se ferme avant, "
     "le prochain démarrage réparera la base."},
    {285,
     "Modification refusée : le disque n'a pas confirmé une écriture précédente de la base ; "
     "les modifications sont refusées jusqu'au prochain démarrage du programme, qui vérifiera "
     "la base."},
});

}  // namespace language_texts
