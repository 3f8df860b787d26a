# Robustness of the real program: unplayable sound settings, and faults in its
# life. Two tests so that each group reports on its own.
halvory_e2e(robustness.bad_inputs test_robustness.py BadSoundInputs)
halvory_e2e(robustness.lifecycle test_robustness.py LifecycleFaults DefaultSetup)
