# The timeline's lines only (time first), without those only the world can tell, for
# holding two tellings of one session line by line (sourced by round_trip.sh and
# written_round_trip.sh): the scenario's own lines (">"), its expectations and
# warnings, the frame rate, cash and clock line at the start, the player's cash at a
# charge, the moment a mission ends in the game (the script sees only its hold), what
# the game does to the player of itself (alive again after a death), and when the
# game begins and ends the pass-out effect (a recording shows it only when the
# plug-in asks). Every line about what the plug-in did stays.
plugin_lines() {
    sed -e 's/\r$//' "$1" |
        grep -E '^ +-?[0-9]+:[0-9:.]+  ' |
        grep -vE '^ +[-0-9:.]+  (> |expect |warning )' |
        grep -vE '^ +[-0-9:.]+  start     [0-9]+ fps|^ +[-0-9:.]+  start     frames of ' |
        grep -vE '^ +[-0-9:.]+  mission   (the mission ends in the game|the game starts again outside the mission)' |
        grep -vE '^ +[-0-9:.]+  player    ' |
        grep -vE '^ +[-0-9:.]+  pass-out  the (game plays the pass-out effect|pass-out effect is over)' |
        grep -vE '^ +[-0-9:.]+  refill    charged ' || true
}
