# The settings dialog and the sound file chooser, end to end under Wine.
halvory_e2e(dialog_e2e test_dialog.py)
