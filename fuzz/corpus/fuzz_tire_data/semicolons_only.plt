LOAD_CASE
0
;;;
;
;;
