; Script-Fu side of gimp_test.sh: the batch command loads this file and runs the cases. A case
; prints "MOXEL <case> ran" when it got to its end, or "MOXEL <case> FAILED: <why>"; the shell
; side then checks the files it wrote.

(define (moxel-say . parts) (gimp-message (apply string-append "MOXEL " parts)))

; The message of the error that `thunk` raised, or #f when it raised none. (catch ...) would
; swallow the message, and every error with it.
(define (moxel-error-of thunk)
  (call-with-current-continuation
    (lambda (return)
      (let ((outer *error-hook*))
        (set! *error-hook*
              (lambda (message . rest) (set! *error-hook* outer) (return message)))
        (thunk)
        (set! *error-hook* outer)
        #f))))

(define (moxel-case name thunk)
  (let ((error (if (= (car (gimp-procedural-db-proc-exists "plug-in-moxel")) 1)
                   (moxel-error-of thunk)
                   "plug-in-moxel is not registered")))
    (moxel-say name (if error (string-append " FAILED: " error) " ran"))))

(define (moxel-load file) (car (gimp-file-load RUN-NONINTERACTIVE file file)))
(define (moxel-layer image) (car (gimp-image-get-active-drawable image)))
(define (moxel-save image file)
  (file-png-save2 RUN-NONINTERACTIVE image (moxel-layer image) file file 0 9 0 0 0 0 0 0 0)
  (gimp-image-delete image))

; settings: (shape density min-size max-size white seed)
(define (moxel-apply image run-mode settings)
  (apply plug-in-moxel run-mode image (moxel-layer image) settings))

; The plug-in on the image in `in`, written to `out`; `prepare` and `finish` work on the image
; before and after (a selection, another precision).
(define (moxel-filter-with name in out settings prepare finish)
  (moxel-case name
    (lambda ()
      (let ((image (moxel-load in)))
        (prepare image)
        (moxel-apply image RUN-NONINTERACTIVE settings)
        (finish image)
        (moxel-save image out)))))

(define (moxel-nothing image) #t)

(define (moxel-filter name in out settings)
  (moxel-filter-with name in out settings moxel-nothing moxel-nothing))

(define (moxel-filter-16-bit name in out settings)
  (moxel-filter-with name in out settings
    (lambda (image) (gimp-image-convert-precision image PRECISION-U16-GAMMA))
    (lambda (image) (gimp-image-convert-precision image PRECISION-U8-GAMMA))))

(define (moxel-filter-selection name in out x y width height settings)
  (moxel-filter-with name in out settings
    (lambda (image) (gimp-image-select-rectangle image CHANNEL-OP-REPLACE x y width height))
    moxel-nothing))

; A high-precision image: `in` filtered into `out`, and before that a copy at 8 bits into `in8`,
; the pixels the filter reads.
(define (moxel-filter-deep name in out in8 settings)
  (moxel-case name
    (lambda ()
      (let* ((image (moxel-load in))
             (copy (car (gimp-image-duplicate image))))
        (gimp-image-convert-precision copy PRECISION-U8-GAMMA)
        (moxel-save copy in8)
        (moxel-apply image RUN-NONINTERACTIVE settings)
        (moxel-save image out)))))

; The last values, with arguments that would each be refused. `remembered` is the record a
; confirmed dialog leaves (the plug-in's seven 32-bit values, little-endian), which a script's
; call with `settings` in between must not replace.
(define (moxel-repeat name in out remembered settings)
  (moxel-case name
    (lambda ()
      (let ((image (moxel-load in)))
        (gimp-procedural-db-set-data "plug-in-moxel" (length remembered)
                                     (list->vector remembered))
        (moxel-apply (car (gimp-image-duplicate image)) RUN-NONINTERACTIVE settings)
        (moxel-apply image RUN-WITH-LAST-VALS '(-1 0 0 0 -1 -1))
        (moxel-save image out)))))

; Each call must fail: "MOXEL refused <label>: <message>" for each, then the image as it is.
; calls: ((label settings) ...)
(define (moxel-refuse name in out calls)
  (moxel-case name
    (lambda ()
      (let ((image (moxel-load in)))
        (for-each
          (lambda (call)
            (let ((error (moxel-error-of
                           (lambda () (moxel-apply image RUN-NONINTERACTIVE (cadr call))))))
              (moxel-say (if error "refused " "accepted ") (car call) ": " (or error ""))))
          calls)
        (moxel-save image out)))))


; "MOXEL types <types>": the image types plug-in-moxel is registered for, which decide where GIMP
; offers its menu entry.
(define (moxel-types name)
  (moxel-case name
    (lambda ()
      (let* ((found (gimp-plugins-query ""))
             (names (list-ref found 11)))
        (let loop ((names names) (types (list-ref found 7)))
          (cond ((null? names) (moxel-say "types none"))
                ((string=? (car names) "plug-in-moxel") (moxel-say "types " (car types)))
                (else (loop (cdr names) (cdr types)))))))))
