// Every process-wide hook of the program, set in one place, and the list of the mutable
// globals that stay and why.
#include "softmgrapp/processhooks.h"

#include "base/cexception.h"
#include "ciplatform/canvas.h"
#include "ciplatform/picture.h"
#include "instengine/installctx.h"
#include "picts/pictbase.h"
#include "softmgrapp/sopkglang.h"
#include "ui/controls/hint.h"
#include "ui/hintholder.h"
#include "ui/theme.h"

// The order, and what needs what:
//  1. Signal translation first: everything after it, and the whole run, has faults turned
//     into cException (runApp and the jobs catch it) and SIGPIPE and SIGHUP ignored, so a
//     dropped server connection or a closed terminal never kills an installation
//     half-way.
//  2. The row order of resource pictures and the default block alignment: values the
//     toolkit leaves to the application, read when a resource picture is decoded or a
//     text is wrapped; stated before the first of either.
//  3. The theme, before any element is made: elements take its colours and pictures.
//  4. The application's language tables join the language layer. Registering loads
//     nothing; the stored language is applied by onInit (it needs the store), and the
//     toolkit's own tables join when runApp has made a window maker, so a run without
//     windows never loads them.
//  5. The engine's language answers, which are read from the tables of step 4.
//  6. The maker of hints, called when an element opens a hint (so only with windows).
//  7. The display factory, read once: when runApp makes the window maker, after onInit.
// Steps 1-3 and 6-7 need nothing of one another; only 5 needs 4.
//
// Mutable globals that stay, and why (the hooks above aside):
// - Set by the start-up after this, from what only the run knows:
//   gApplication (ui/application.cpp: runApp; appRef() serves code far from the
//   application object); the applied language, cLibLang::gCiomLang and what follows it
//   (ciplatform/fontobject.cpp gStdFont, gTextLang, gWrapFactor; sopkglang.cpp
//   _def_block_align), applied by onInit from the store and again by every language
//   switch, read by every element; gToolkitLang (ui/ciomlang.cpp: runApp, once there are windows);
//   __check_updates_url and its gQueryUrl (updatecheck.cpp: onInit, from
//   QMX_UPDATE_SERVER, after the "version" verb so that it never warns); gConsoleMessages
//   (jobforms.cpp: run(), from the window maker it got; read by the message boxes of
//   jobs far below run()).
// - Seams of tests, whose defaults are the program's own and which the program never
//   sets: cInstallInitJob, cUninstallInitJob and cRemoverJob::gPauseMs,
//   cFileSelectPanel::gFreeSpace, cFinishPanel::gStarter, cSoftUpdateInfoForm::gChooseTarget,
//   gUpdateCheckLimitMs, setWebOpener (instengine), cSocketIO::setResolverForTests,
//   cHttpTransport::setTimeouts, cConfigHive::setSaveHook, setPictDecodeBudget,
//   cJ2KDecode::setThreads, shaForcePortable and the per-thread setRawFrameHook. Passing
//   them as parameters would thread a test's wish through every form between.
// - Filled on first use and kept for the process, never changed after: the picture lists
//   of the controls and dialogs (gImages, gFormTools, gChildTools, gHLists, gVLists,
//   gFormPictures, gMain, gCtl, gList, gPictsFilled), the theme's pictures, the flags, the
//   wizard's and the folder page's pictures (cInstWizard::myPictBg, myPictPoints,
//   cFileSelectPanel::myPictFolder), iconColorData, the font and Xlib symbol tables, the
//   CPU feature probes, the pkexec probe of the shortcuts, the clock's base and the
//   decoders' lookup tables.
// - Locks and registries that are state, not settings: cWindowMaker::gActionSync, the
//   action queues, the language providers' registry and its lock.
// - State of one operation: makeinstaller.cpp's work path and saved signal handlers (an
//   interrupted "make" removes its half-made bundle), the one background update check a
//   process starts (softmgr/ossupport.cpp), the form-data boundary counter, the X11
//   maker's last error and MIT-SHM state, and _cmdBlock (the command block patched into
//   the manager's copy).
void installProcessHooks(cWindowMaker::tMakerFactory displayFactory, bool translateSignals) {
    if (translateSignals) cException::init();
    // Decoders give rows bottom-up; resource pictures are turned upright, never flipped.
    __bmp_res_inversed = false;
    __def_block_align = cCanvas::taLeft;  // the target folder page's wrapped texts
    cCITheme::setTheme(gCI_Flat_Theme);
    cSOPKGLang::init();
    setInstallLangs(cSOPKGLang::engineLangs());
    setHintMaker(cHintMaster::maker());
    cWindowMaker::setDisplayFactory(displayFactory);
}
