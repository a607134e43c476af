#pragma once

class Dialogs;
class UrlOpener;

// Takes the user to where this program is allowed to control Safari.
namespace AutomationSettings {
void show(UrlOpener &urlOpener, Dialogs &dialogs);
}
