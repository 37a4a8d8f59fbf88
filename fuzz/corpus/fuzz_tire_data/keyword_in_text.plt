load_case blocks follow (this lower-case line starts none)
# LOAD_CASE 1 front left, run 12
1.5
3000 5000
-5 -900 -1400
5 910 1420
xxLOAD_CASExx
-1.5
3000 5000
0 1 2
